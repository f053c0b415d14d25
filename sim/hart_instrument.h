// SimHartInstrument: the HART field instrument wired behind the converter module.
//
// A pure class like SimModule: it takes one request frame and returns the instrument's reply
// frame, keeping only its polling address. Its process values are a function of a clock the
// caller passes in, so a test (or "rq735-sim --frozen") holds them still by passing a fixed time.
//
// Requests: any number of preambles, a short-frame request delimiter (address: master bit 7,
// polling address in the low six bits) or a long-frame one (manufacturer id low six bits plus
// master and burst bits, device type, three bytes of device id), command, byte count, data, and
// the XOR of delimiter through data. Replies: five preambles, the reply delimiter of the same
// frame kind, the request's address with its master bit, command, byte count, two status bytes,
// data, checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct HartDynamicVariable {
  uint8_t unit = 0;  // HART engineering-unit code
  float value = 0;
};

struct HartProcessValues {
  float current = 0;  // loop current, mA
  std::array<HartDynamicVariable, 4> variables{};
};

class SimHartInstrument {
 public:
  static constexpr uint8_t kManufacturer = 0x26;
  static constexpr uint8_t kDeviceType = 0x06;
  static constexpr std::array<uint8_t, 3> kDeviceId{0x00, 0x12, 0x34};
  static constexpr uint8_t kRequestPreambles = 5;
  static constexpr uint8_t kMaxPollingAddress = 63;

  // Units of the four dynamic variables: flow, temperature, pressure, totalized volume.
  static constexpr uint8_t kUnitCubicMetresPerHour = 19;
  static constexpr uint8_t kUnitDegreesCelsius = 32;
  static constexpr uint8_t kUnitBar = 7;
  static constexpr uint8_t kUnitCubicMetres = 43;

  // The process at `seconds` on the instrument's clock. Time 0 gives round values: 12 mA, a flow
  // of 60 m3/h, 21.5 degC, 2.5 bar and 1000 m3; from there the values move slowly.
  static HartProcessValues ValuesAt(double seconds);

  // The reply to one request frame; empty when the instrument stays silent (not a complete frame,
  // wrong checksum, not its address, a command it answers only at its long address).
  std::vector<uint8_t> Answer(const std::vector<uint8_t> &request, double seconds);

  uint8_t PollingAddress() const { return pollingAddress_; }

 private:
  uint8_t pollingAddress_ = 0;
};
