// SimHartInstrument: the HART field instrument wired behind the converter module.
//
// A pure class like SimModule: it takes one request frame and returns the instrument's reply
// frame, keeping its settings (tag, descriptor, message, date, final assembly number, long tag,
// range, units, damping, polling address, response preambles) and its fixed current. Its process
// values are a function of a clock the caller passes in, so a test (or "rq735-sim --frozen") holds
// them still by passing a fixed time.
//
// Requests: any number of preambles, a short-frame request delimiter (address: master bit 7,
// polling address in the low six bits) or a long-frame one (manufacturer id low six bits plus
// master and burst bits, device type, three bytes of device id), command, byte count, data, and
// the XOR of delimiter through data. Replies: the response preambles (5 unless command 59 set
// another number), the reply delimiter of the same frame kind, the request's address with its
// master bit, command, byte count, two status bytes, data, checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/hart_commands.h"

struct HartDynamicVariable {
  uint8_t unit = 0;  // HART engineering-unit code
  float value = 0;
};

struct HartProcessValues {
  float current = 0;  // loop current, mA
  std::array<HartDynamicVariable, 4> variables{};
  float percentOfRange = 0;
  bool saturated = false;  // the current would lie beyond what the output can drive
};

struct SimHartOptions {
  uint8_t universalRevision = 5;  // 5 or 7
  bool writeProtect = false;      // every write is refused with response code 7
};

class SimHartInstrument {
 public:
  static constexpr uint8_t kManufacturer = 0x26;
  static constexpr uint8_t kDeviceType = 0x06;
  static constexpr std::array<uint8_t, 3> kDeviceId{0x00, 0x12, 0x34};
  static constexpr uint8_t kRequestPreambles = 5;
  static constexpr uint8_t kMaxPollingAddress = hart_field::kMaxPollingAddress;

  // Units of the four dynamic variables: flow, temperature, pressure, totalized volume.
  static constexpr uint8_t kUnitCubicMetresPerHour = 19;
  static constexpr uint8_t kUnitDegreesCelsius = 32;
  static constexpr uint8_t kUnitBar = 7;
  static constexpr uint8_t kUnitCubicMetres = 43;

  // The flow sensor's limits, in the primary variable's unit, and the least span of a range.
  static constexpr float kLowerSensorLimit = 0;
  static constexpr float kUpperSensorLimit = 200;
  static constexpr float kMinimumSpan = 1;
  // What the current output can drive, in mA, fixed or following the flow.
  static constexpr float kLowestCurrent = 3.8f;
  static constexpr float kHighestCurrent = 20.5f;
  static constexpr float kMaxDamping = 32;  // seconds

  explicit SimHartInstrument(SimHartOptions options = {});

  // The process at `seconds` on the instrument's clock with the range at its start, 0 to 120 m3/h.
  // Time 0 gives round values: 12 mA, a flow of 60 m3/h, 21.5 degC, 2.5 bar and 1000 m3; from
  // there the values move slowly.
  static HartProcessValues ValuesAt(double seconds);
  // The same as this instrument reports it: through its range and units, or at its fixed current.
  HartProcessValues Values(double seconds) const;

  // The reply to one request frame; empty when the instrument stays silent (not a complete frame,
  // wrong checksum, not its address, a command it answers only at its long address).
  std::vector<uint8_t> Answer(const std::vector<uint8_t> &request, double seconds);

  uint8_t PollingAddress() const { return pollingAddress_; }
  uint8_t UniversalRevision() const { return options_.universalRevision; }
  bool CurrentFixed() const { return fixedCurrent_ != 0; }
  // The second status byte of the replies at `seconds`.
  uint8_t DeviceStatus(double seconds) const;

 private:
  struct Outcome {
    uint8_t code = 0;
    std::vector<uint8_t> data;
  };
  Outcome Execute(uint8_t command, const std::vector<uint8_t> &data, double seconds);
  std::vector<uint8_t> Identity() const;
  std::vector<uint8_t> DeviceVariables(const std::vector<uint8_t> &codes, double seconds) const;
  std::vector<uint8_t> DeviceInformation() const;
  std::vector<uint8_t> AdditionalStatus(double seconds) const;

  SimHartOptions options_;
  uint8_t pollingAddress_ = 0;
  uint8_t responsePreambles_ = 5;
  // The text fields as they travel: packed ASCII (tag, descriptor and date together), Latin-1.
  std::vector<uint8_t> tagDescriptorDate_;
  std::vector<uint8_t> message_;
  std::vector<uint8_t> finalAssembly_;
  std::vector<uint8_t> longTag_;
  uint8_t pvUnit_ = kUnitCubicMetresPerHour;  // of the primary variable and its range
  float upperRange_ = 120;
  float lowerRange_ = 0;
  float damping_ = 0.5f;
  float fixedCurrent_ = 0;  // mA; 0 while the current follows the flow
  bool configurationChanged_ = false;
  uint16_t configurationChangeCounter_ = 0;
};
