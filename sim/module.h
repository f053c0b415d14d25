// SimModule: the converter module as the configuration program sees it from the serial line.
//
// A pure class: it takes one request (the bytes that arrived together) and returns the bytes the
// module sends back, keeping the parameters the requests set. No I/O; the clock that moves the
// instrument's process values is set by the caller (SetClock).
//
// The module speaks three dialects on one line, told apart by content:
// - the configuration language ("QQQ#" queries, "QQS#" settings, "KORVEN#" factory commands),
//   recognised by its prefix;
// - HART frames (starting with a preamble or a short or long request delimiter), passed to
//   the instrument behind the module while the working mode is 0 (transparent);
// - MODBUS RTU requests (at least four bytes ending in a valid CRC-16), answered by the module's
//   slave side in every working mode. A frame that starts with the short request delimiter (2)
//   and carries a valid CRC is a request to slave 2, not a HART frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/hart_instrument.h"

// What the MODBUS-side settings of one meter hold, as the characters the parameter reply carries.
struct SimMeterSettings {
  // "HART": enabled 0/1, device mode 0/1, meter type 00..15, preamble length '4'..'9', buffer
  // clear time in seconds (three digits).
  char enabled = '1';
  char deviceMode = '0';
  std::string meterType = "00";
  char preamble = '5';
  std::string clearTime = "060";
  // "DFOT": the data formats of current and variables 1 to 4 (current 0/1, the others 0..3).
  std::string dataFormats = "00000";
  // "MDBS": address bits '3'..'9', then per variable command 0..2, start address 00..99 and
  // data length 0/1, as in "8,1100,2051,0000,0000".
  std::string customFormat = "8,0000,0000,0000,0000";
  // "CAMD": the two custom HART read commands, on/off and 0 to 14 bytes.
  struct CustomCommand {
    char enabled = '0';
    std::vector<uint8_t> bytes;
  };
  std::array<CustomCommand, 2> commands{};
};

struct SimModuleState {
  // System parameters, written by "QQS#" settings and restored by "QQS#RESET#". Text fields hold
  // exactly the characters the system-parameter reply carries.
  std::string slaveAddress;  // "ADR", three digits
  int workMode = 0;          // "MD", 0 transparent, 1 MODBUS single instrument, 2 third mode
  int returnTime = 0;        // "XY", 0..5 (50 ms .. 500 ms)
  std::string hartInterval;  // "JTM", three digits, units of 10 ms
  int baudIndex = 3;         // "BA2" first digit, 0..6 (1200 .. 57600)
  int parityIndex = 0;       // "BA2" second digit, 0..2 (None, Odd, Even)

  // Factory data, written by "KORVEN#" commands; "QQS#RESET#" leaves it alone.
  std::string rangeUpper;      // "AIN1" first value, six characters
  std::string rangeLower;      // "AIN1" second value, six characters
  std::string totalizerStart;  // "AIN1" third value, five characters
  std::string cutoff;          // "ZOM", five characters
  std::string coefficient;     // "ADX", four digits
  std::string lsdInteger;      // "LPN", as sent (digits)
  std::string lsdDecimal;      // "LPF", as sent (one to three digits)
  std::string boardSerial;     // "PCBSN" serial number, as sent (digits)
  std::string inspector;       // "PCBSN" inspector code, as sent (digits)

  // MODBUS side. Settings are kept for every device digit; only meter 0 is wired to the
  // instrument and published in holding registers 0..9.
  std::array<SimMeterSettings, 10> meters{};
  char coefficientMode = '0';            // "FMW" mode 0..3
  std::string coefficientFactor;         // "FMW" factor, five characters as sent
};

class SimModule {
 public:
  static constexpr size_t kMaxCustomCommandBytes = 14;
  static const char kAcknowledge[];  // "OK#": a setting or factory command was taken
  static const char kRefuse[];       // "ERR#": a configuration frame the module cannot take

  explicit SimModule(SimHartOptions hart = {});

  // The answer to one request; empty when the module stays silent.
  std::vector<uint8_t> Answer(const std::vector<uint8_t> &request);

  const SimModuleState &State() const { return state_; }
  const SimHartInstrument &Instrument() const { return instrument_; }

  // The time, in seconds, on the instrument's clock; the process values are a function of it.
  void SetClock(double seconds) { clock_ = seconds; }

  // Meter 0's ten holding registers: current and variables 1 to 4 in their data formats.
  std::vector<uint16_t> HoldingRegisters() const;
  // The slave address as a byte; 0 (answers nobody) when the setting is above 247.
  uint8_t SlaveAddress() const;
  static SimModuleState InitialState();

  // The RS485 line settings as texts, for reports: BaudRateText(3) is "9600", ParityText(2) "Even".
  // Indexes outside the lists give "?".
  static const char *BaudRateText(int index);
  static const char *ParityText(int index);

  // A decimal number in exactly `width` characters, zero-padded on the left, with at least
  // `preferredDecimals` decimals (more when the text has more and they fit; fewer, rounded, when
  // the number is too wide for them). Nothing when the text is not a plain decimal number
  // ("-", digits, one ".") or its integer part does not fit.
  static std::optional<std::string> FixedWidthNumber(const std::string &text, size_t width,
                                                     int preferredDecimals, bool allowNegative);

 private:
  std::string AnswerQuery(const std::string &body);
  std::string AnswerSetting(const std::string &body);
  std::string AnswerFactory(const std::string &body);
  std::string AnswerMeterSetting(const std::string &name, const std::string &args);
  std::string AnswerCustomCommand(const std::string &body);

  std::string CommunicationReply() const;
  std::string SystemParameterReply() const;
  std::string AdChannelReply() const;
  std::string MeterReply(int device) const;

  SimModuleState state_;
  SimHartInstrument instrument_;
  double clock_ = 0;
};
