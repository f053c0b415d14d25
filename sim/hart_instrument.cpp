#include "sim/hart_instrument.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/hart.h"
#include "protocol/number_format.h"

namespace {

using namespace hart;
namespace F = hart_field;

constexpr double kPi = 3.14159265358979323846;
constexpr double kSecondsPerDay = 86400;
constexpr double kTimeStampTicksPerSecond = 32000;  // command 9's time stamp counts 1/32 ms

// Device variable classifications of command 9.
constexpr uint8_t kClassTemperature = 64;
constexpr uint8_t kClassPressure = 65;
constexpr uint8_t kClassVolumetricFlow = 66;
constexpr uint8_t kClassVolume = 68;
constexpr uint8_t kDeviceProfileProcessAutomation = 1;
constexpr uint8_t kSerialNumber[3] = {0x00, 0x04, 0x57};

void AppendFloat(std::vector<uint8_t> *out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(bits >> shift));
}

float FloatAt(const std::vector<uint8_t> &data, size_t at) {
  return FloatFromBytes(data[at], data[at + 1], data[at + 2], data[at + 3]);
}

bool KnownUnit(uint8_t unit) { return UnitPosition(unit) != kUnitCount - 1; }

// The commands that change a setting: refused under write protection, and they mark the
// configuration changed.
bool IsWrite(uint8_t command) {
  switch (command) {
    case kWritePollingAddress:
    case kWriteMessage:
    case kWriteTagDescriptorDate:
    case kWriteFinalAssemblyNumber:
    case kWriteLongTag:
    case kWriteDampingValue:
    case kWriteRangeValues:
    case kWritePrimaryVariableUnits:
    case kWriteResponsePreambles: return true;
    default: return false;
  }
}

// The process in the sensor's terms.
struct Measured {
  double flow, temperature, pressure, volume;
};

Measured MeasuredAt(double seconds) {
  // The flow moves over a two-minute sine; the totalizer is its exact integral, so it never runs
  // backwards.
  const double omega = 2 * kPi / 120;
  Measured m;
  m.flow = 60 + 45 * std::sin(omega * seconds);
  m.volume = 1000 + (60 * seconds + 45 / omega * (1 - std::cos(omega * seconds))) / 3600;
  m.temperature = 21.5 + 3 * std::sin(2 * kPi * seconds / 300);
  m.pressure = 2.5 + 0.2 * std::sin(2 * kPi * seconds / 45);
  return m;
}

// The values with the flow on a range; the current is not limited here.
HartProcessValues OnRange(const Measured &m, uint8_t flowUnit, double lower, double upper) {
  const double fraction = (m.flow - lower) / (upper - lower);
  HartProcessValues v;
  v.current = static_cast<float>(4 + fraction * 16);
  v.percentOfRange = static_cast<float>(fraction * 100);
  v.variables[0] = {flowUnit, static_cast<float>(m.flow)};
  v.variables[1] = {SimHartInstrument::kUnitDegreesCelsius, static_cast<float>(m.temperature)};
  v.variables[2] = {SimHartInstrument::kUnitBar, static_cast<float>(m.pressure)};
  v.variables[3] = {SimHartInstrument::kUnitCubicMetres, static_cast<float>(m.volume)};
  return v;
}

}  // namespace

SimHartInstrument::SimHartInstrument(SimHartOptions options) : options_(options) {
  tagDescriptorDate_ = TagDescriptorDateRequest({"FT-101", "FLOW TRANSMITTER", {2024, 1, 15}}).data;
  message_ = MessageRequest("RQ735 SIMULATED INSTRUMENT").data;
  finalAssembly_ = FinalAssemblyNumberRequest(735001).data;
  longTag_ = LongTagRequest("FT-101 feed water flow").data;
}

HartProcessValues SimHartInstrument::ValuesAt(double seconds) {
  return OnRange(MeasuredAt(seconds), kUnitCubicMetresPerHour, 0, 120);
}

HartProcessValues SimHartInstrument::Values(double seconds) const {
  HartProcessValues v = OnRange(MeasuredAt(seconds), pvUnit_, lowerRange_, upperRange_);
  if (CurrentFixed()) {
    const double fraction = (double{fixedCurrent_} - 4) / 16;
    v.current = fixedCurrent_;
    v.percentOfRange = static_cast<float>(fraction * 100);
    v.variables[0].value = static_cast<float>(lowerRange_ + fraction * (double{upperRange_} - lowerRange_));
  } else if (v.current < kLowestCurrent || v.current > kHighestCurrent) {
    v.saturated = true;
    v.current = std::clamp(v.current, kLowestCurrent, kHighestCurrent);
  }
  return v;
}

uint8_t SimHartInstrument::DeviceStatus(double seconds) const {
  uint8_t status = 0;
  if (configurationChanged_) status |= kConfigurationChanged;
  if (CurrentFixed()) status |= kLoopCurrentFixed;
  if (Values(seconds).saturated) status |= kLoopCurrentSaturated;
  return status;
}

std::vector<uint8_t> SimHartInstrument::Answer(const std::vector<uint8_t> &request, double seconds) {
  size_t start = 0;
  while (start < request.size() && request[start] == kPreamble) ++start;
  const size_t available = request.size() - start;
  if (available == 0) return {};
  const bool isLong = request[start] == kLongRequest;
  if (!isLong && request[start] != kShortRequest) return {};

  // Delimiter, address, command, byte count; then the data and the checksum.
  const size_t addressLength = isLong ? kLongAddressLength : kShortAddressLength;
  const size_t header = 1 + addressLength + 2;
  if (available < header) return {};
  const size_t count = request[start + header - 1];
  if (available < header + count + 1) return {};
  if (HartChecksum(&request[start], header + count) != request[start + header + count]) return {};

  const uint8_t *address = &request[start + 1];
  if (isLong) {
    if ((address[0] & kAddressMask) != (kManufacturer & kAddressMask) || address[1] != kDeviceType ||
        address[2] != kDeviceId[0] || address[3] != kDeviceId[1] || address[4] != kDeviceId[2])
      return {};
  } else if ((address[0] & kAddressMask) != pollingAddress_) {
    return {};
  }
  const uint8_t command = request[start + 1 + addressLength];
  // At the short address only the identity and the polling address are answered.
  if (!isLong && command != kReadUniqueIdentifier && command != kWritePollingAddress) return {};
  const std::vector<uint8_t> data(request.begin() + static_cast<std::ptrdiff_t>(start + header),
                                  request.begin() + static_cast<std::ptrdiff_t>(start + header + count));

  // The reply carries the address the request used, before a new polling address takes effect.
  std::vector<uint8_t> frame;
  const uint8_t master = address[0] & kPrimaryMaster;
  if (isLong) {
    frame = {kLongReply, static_cast<uint8_t>(master | (kManufacturer & kAddressMask)), kDeviceType, kDeviceId[0],
             kDeviceId[1], kDeviceId[2]};
  } else {
    frame = {kShortReply, static_cast<uint8_t>(master | pollingAddress_)};
  }

  const Outcome outcome = Execute(command, data, seconds);
  frame.push_back(command);
  frame.push_back(static_cast<uint8_t>(2 + outcome.data.size()));
  frame.push_back(outcome.code);
  frame.push_back(DeviceStatus(seconds));
  frame.insert(frame.end(), outcome.data.begin(), outcome.data.end());
  frame.push_back(HartChecksum(frame.data(), frame.size()));

  std::vector<uint8_t> reply(responsePreambles_, kPreamble);
  reply.insert(reply.end(), frame.begin(), frame.end());
  return reply;
}

SimHartInstrument::Outcome SimHartInstrument::Execute(uint8_t command, const std::vector<uint8_t> &data,
                                                      double seconds) {
  auto refuse = [](uint8_t code) { return Outcome{code, {}}; };
  if (UniversalRevision() < LeastUniversalRevision(command)) return refuse(kCommandNotImplemented);
  const HartCommandInfo *info = FindHartCommand(command);
  if (info && data.size() < info->requestBytes) return refuse(kTooFewDataBytes);
  if (IsWrite(command) && options_.writeProtect) return refuse(kInWriteProtectMode);
  auto taken = [this, &data](size_t bytes) {
    configurationChanged_ = true;
    ++configurationChangeCounter_;
    return Outcome{kSuccess, std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(bytes))};
  };

  Outcome out;
  switch (command) {
    case kReadUniqueIdentifier: out.data = Identity(); break;
    case kReadPrimaryVariable: {
      const HartProcessValues v = Values(seconds);
      out.data.push_back(v.variables[0].unit);
      AppendFloat(&out.data, v.variables[0].value);
      break;
    }
    case kReadLoopCurrentAndPercent: {
      const HartProcessValues v = Values(seconds);
      AppendFloat(&out.data, v.current);
      AppendFloat(&out.data, v.percentOfRange);
      break;
    }
    case kReadDynamicVariables: {
      const HartProcessValues v = Values(seconds);
      AppendFloat(&out.data, v.current);
      for (const HartDynamicVariable &variable : v.variables) {
        out.data.push_back(variable.unit);
        AppendFloat(&out.data, variable.value);
      }
      break;
    }
    case kWritePollingAddress:
      if (data[0] > kMaxPollingAddress) return refuse(kInvalidSelection);
      pollingAddress_ = data[0];
      return taken(1);
    case kReadDeviceVariablesWithStatus: {
      const size_t asked = std::min(data.size(), F::kMaxSlots);
      out.data = DeviceVariables(std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(asked)),
                                 seconds);
      if (asked < data.size()) out.code = kResponseTruncated;
      break;
    }
    case kReadMessage: out.data = message_; break;
    case kReadTagDescriptorDate: out.data = tagDescriptorDate_; break;
    case kReadTransducerInformation:
      out.data.assign(std::begin(kSerialNumber), std::end(kSerialNumber));
      out.data.push_back(pvUnit_);
      AppendFloat(&out.data, kUpperSensorLimit);
      AppendFloat(&out.data, kLowerSensorLimit);
      AppendFloat(&out.data, kMinimumSpan);
      break;
    case kReadDeviceInformation: out.data = DeviceInformation(); break;
    case kReadFinalAssemblyNumber: out.data = finalAssembly_; break;
    case kWriteMessage:
      message_.assign(data.begin(), data.begin() + info->requestBytes);
      return taken(info->requestBytes);
    case kWriteTagDescriptorDate:
      tagDescriptorDate_.assign(data.begin(), data.begin() + info->requestBytes);
      return taken(info->requestBytes);
    case kWriteFinalAssemblyNumber:
      finalAssembly_.assign(data.begin(), data.begin() + info->requestBytes);
      return taken(info->requestBytes);
    case kReadLongTag: out.data = longTag_; break;
    case kWriteLongTag:
      longTag_.assign(data.begin(), data.begin() + info->requestBytes);
      return taken(info->requestBytes);
    case kWriteDampingValue: {
      const float damping = FloatAt(data, 0);
      if (std::isnan(damping)) return refuse(kInvalidSelection);
      if (damping < 0) return refuse(kParameterTooSmall);
      if (damping > kMaxDamping) return refuse(kParameterTooLarge);
      damping_ = damping;
      return taken(4);
    }
    case kWriteRangeValues: {
      const uint8_t unit = data[0];
      const float upper = FloatAt(data, 1);
      const float lower = FloatAt(data, 5);
      if (!KnownUnit(unit) || std::isnan(upper) || std::isnan(lower)) return refuse(kInvalidSelection);
      if (lower < kLowerSensorLimit) return refuse(kLowerRangeValueTooLow);
      if (lower > kUpperSensorLimit) return refuse(kLowerRangeValueTooHigh);
      if (upper > kUpperSensorLimit) return refuse(kUpperRangeValueTooHigh);
      if (upper < kLowerSensorLimit) return refuse(kUpperRangeValueTooLow);
      if (double{upper} - lower < kMinimumSpan) return refuse(kInvalidSpan);
      pvUnit_ = unit;
      upperRange_ = upper;
      lowerRange_ = lower;
      return taken(info->requestBytes);
    }
    case kResetConfigurationChanged:
      if (UniversalRevision() >= 7 && data.size() >= 2 &&
          (data[0] << 8 | data[1]) != configurationChangeCounter_)
        return refuse(kConfigurationChangeCounterMismatch);
      configurationChanged_ = false;
      if (UniversalRevision() >= 7) out.data = ResetConfigurationChangedRequest(configurationChangeCounter_);
      break;
    case kEnterExitFixedCurrent: {
      const float current = FloatAt(data, 0);
      if (std::isnan(current)) return refuse(kInvalidSelection);
      if (current != kLeaveFixedCurrent && current < kLowestCurrent) return refuse(kParameterTooSmall);
      if (current > kHighestCurrent) return refuse(kParameterTooLarge);
      fixedCurrent_ = current;
      AppendFloat(&out.data, fixedCurrent_);
      break;
    }
    case kWritePrimaryVariableUnits:
      if (!KnownUnit(data[0])) return refuse(kInvalidSelection);
      pvUnit_ = data[0];
      return taken(1);
    case kReadAdditionalDeviceStatus: out.data = AdditionalStatus(seconds); break;
    case kWriteResponsePreambles:
      if (data[0] < kMinPreambles) return refuse(kParameterTooSmall);
      if (data[0] > kMaxPreambles) return refuse(kParameterTooLarge);
      responsePreambles_ = data[0];
      return taken(1);
    default: return refuse(kCommandNotImplemented);
  }
  return out;
}

std::vector<uint8_t> SimHartInstrument::Identity() const {
  constexpr uint8_t kExpansion = 254, kDeviceRevision = 1, kSoftwareRevision = 1, kHardwareRevision = 8, kFlags = 0;
  std::vector<uint8_t> out = {kExpansion,        kManufacturer, kDeviceType,     kRequestPreambles,
                              UniversalRevision(), kDeviceRevision, kSoftwareRevision, kHardwareRevision,
                              kFlags,            kDeviceId[0],  kDeviceId[1],    kDeviceId[2]};
  if (UniversalRevision() >= 7) {
    constexpr uint8_t kExtendedStatus = 0, kDeviceVariableCount = 4;
    out.insert(out.end(), {responsePreambles_, kDeviceVariableCount,
                           static_cast<uint8_t>(configurationChangeCounter_ >> 8),
                           static_cast<uint8_t>(configurationChangeCounter_), kExtendedStatus, 0x00, kManufacturer, 0x00,
                           kManufacturer, kDeviceProfileProcessAutomation});
  }
  return out;
}

std::vector<uint8_t> SimHartInstrument::DeviceVariables(const std::vector<uint8_t> &codes, double seconds) const {
  const HartProcessValues v = Values(seconds);
  const uint8_t fixedOrGood = CurrentFixed() ? kVariableFixed : kVariableGood;
  std::vector<uint8_t> out = {0x00};  // extended device status
  for (uint8_t code : codes) {
    // Variables 0 to 3 are the flow, temperature, pressure and volume; 246 to 249 the same as
    // primary to quaternary variable.
    int variable = -1;
    if (code < 4) variable = code;
    else if (code >= kPrimaryVariableCode && code <= kQuaternaryVariableCode) variable = code - kPrimaryVariableCode;
    static constexpr uint8_t kClasses[4] = {kClassVolumetricFlow, kClassTemperature, kClassPressure, kClassVolume};
    out.push_back(code);
    if (variable >= 0) {
      const auto &dv = v.variables[static_cast<size_t>(variable)];
      out.insert(out.end(), {kClasses[variable], dv.unit});
      AppendFloat(&out, dv.value);
      out.push_back(variable == 0 ? fixedOrGood : uint8_t{kVariableGood});
    } else if (code == kLoopCurrentVariable || code == kPercentOfRangeVariable) {
      out.push_back(0x00);
      out.push_back(code == kLoopCurrentVariable ? kUnitMilliampere : kUnitPercent);
      AppendFloat(&out, code == kLoopCurrentVariable ? v.current : v.percentOfRange);
      out.push_back(fixedOrGood);
    } else {
      out.insert(out.end(), {0x00, kUnitNotUsed, kNotANumberFirstByte, 0xA0, 0x00, 0x00,
                             static_cast<uint8_t>(kVariableBad | kVariableLimitConstant)});
    }
  }
  if (UniversalRevision() >= 7) {
    const auto ticks = static_cast<uint32_t>(std::fmod(std::max(seconds, 0.0), kSecondsPerDay) * kTimeStampTicksPerSecond);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(ticks >> shift));
  }
  return out;
}

std::vector<uint8_t> SimHartInstrument::DeviceInformation() const {
  constexpr uint8_t kAlarmHigh = 0, kLinear = 0, kAnalogOutputChannel = 0;
  std::vector<uint8_t> out = {kAlarmHigh, kLinear, pvUnit_};
  AppendFloat(&out, upperRange_);
  AppendFloat(&out, lowerRange_);
  AppendFloat(&out, damping_);
  out.push_back(options_.writeProtect ? kWriteProtected : kNotWriteProtected);
  out.push_back(kManufacturer);  // private label distributor
  if (UniversalRevision() >= 6) out.push_back(kAnalogOutputChannel);
  return out;
}

std::vector<uint8_t> SimHartInstrument::AdditionalStatus(double seconds) const {
  std::vector<uint8_t> out(6, 0x00);  // device-specific status: nothing to report
  if (UniversalRevision() >= 7) {
    out.resize(F::kAnalogChannelFixed + 1, 0x00);
    constexpr uint8_t kFirstChannel = 0x01;
    if (Values(seconds).saturated) out[F::kAnalogChannelSaturated] = kFirstChannel;
    if (CurrentFixed()) out[F::kAnalogChannelFixed] = kFirstChannel;
  }
  return out;
}
