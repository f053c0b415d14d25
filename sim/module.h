// SimModule: the converter module as the configuration program sees it from the serial line.
//
// A pure class: it takes one request (the bytes that arrived together) and returns the bytes the
// module sends back, keeping the parameters the requests set. No I/O, no clock.
//
// The module speaks several dialects on one line. Answer() recognises the configuration language
// ("QQQ#" queries, "QQS#" settings, "KORVEN#" factory commands) by its prefix; HART pass-through
// frames and MODBUS RTU requests are not simulated yet and get no answer. Further dialects are
// added as further branches of Answer() with their own state next to SimModuleState.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
};

class SimModule {
 public:
  static constexpr size_t kMaxQueryReply = 255;
  static const char kAcknowledge[];  // "OK#": a setting or factory command was taken
  static const char kRefuse[];       // "ERR#": a configuration frame the module cannot take

  SimModule();

  // The answer to one request; empty when the module stays silent.
  std::vector<uint8_t> Answer(const std::vector<uint8_t> &request);

  const SimModuleState &State() const { return state_; }
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

  std::string CommunicationReply() const;
  std::string SystemParameterReply() const;
  std::string AdChannelReply() const;

  SimModuleState state_;
};
