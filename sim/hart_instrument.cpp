#include "sim/hart_instrument.h"

#include <cmath>
#include <cstring>

#include "protocol/hart.h"

namespace {

using namespace hart;

constexpr size_t kReplyPreambles = 5;
constexpr double kPi = 3.14159265358979323846;

void AppendFloat(std::vector<uint8_t> *out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(bits >> shift));
}

}  // namespace

HartProcessValues SimHartInstrument::ValuesAt(double seconds) {
  // The flow follows the loop current over a two-minute sine (4..20 mA spans 0..120 m3/h); the
  // totalizer is its exact integral, so it never runs backwards.
  const double omega = 2 * kPi / 120;
  const double flow = 60 + 45 * std::sin(omega * seconds);
  const double current = 4 + flow / 120 * 16;
  const double volume = 1000 + (60 * seconds + 45 / omega * (1 - std::cos(omega * seconds))) / 3600;
  const double temperature = 21.5 + 3 * std::sin(2 * kPi * seconds / 300);
  const double pressure = 2.5 + 0.2 * std::sin(2 * kPi * seconds / 45);

  HartProcessValues v;
  v.current = static_cast<float>(current);
  v.variables[0] = {kUnitCubicMetresPerHour, static_cast<float>(flow)};
  v.variables[1] = {kUnitDegreesCelsius, static_cast<float>(temperature)};
  v.variables[2] = {kUnitBar, static_cast<float>(pressure)};
  v.variables[3] = {kUnitCubicMetres, static_cast<float>(volume)};
  return v;
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
  const std::vector<uint8_t> data(request.begin() + static_cast<std::ptrdiff_t>(start + header),
                                  request.begin() + static_cast<std::ptrdiff_t>(start + header + count));

  // The reply carries the address the request used, before a new polling address takes effect.
  std::vector<uint8_t> reply(kReplyPreambles, kPreamble);
  const size_t delimiterAt = reply.size();
  const uint8_t master = address[0] & kPrimaryMaster;
  if (isLong) {
    reply.insert(reply.end(), {kLongReply, static_cast<uint8_t>(master | (kManufacturer & kAddressMask)),
                               kDeviceType, kDeviceId[0], kDeviceId[1], kDeviceId[2]});
  } else {
    reply.insert(reply.end(), {kShortReply, static_cast<uint8_t>(master | pollingAddress_)});
  }

  uint8_t responseCode = 0;
  std::vector<uint8_t> payload;
  switch (command) {
    case kReadUniqueIdentifier:
      payload = {254,          kManufacturer, kDeviceType,   kRequestPreambles, 5, 1, 1, 8, 0,
                 kDeviceId[0], kDeviceId[1],  kDeviceId[2]};
      break;
    case kReadDynamicVariables: {
      if (!isLong) return {};
      const HartProcessValues values = ValuesAt(seconds);
      AppendFloat(&payload, values.current);
      for (const HartDynamicVariable &variable : values.variables) {
        payload.push_back(variable.unit);
        AppendFloat(&payload, variable.value);
      }
      break;
    }
    case kWritePollingAddress:
      if (data.empty()) {
        responseCode = kTooFewDataBytes;
      } else if (data[0] > kMaxPollingAddress) {
        responseCode = kInvalidSelection;
      } else {
        pollingAddress_ = data[0];
        payload.push_back(pollingAddress_);
      }
      break;
    default:
      if (!isLong) return {};
      responseCode = kCommandNotImplemented;
      break;
  }

  reply.push_back(command);
  reply.push_back(static_cast<uint8_t>(2 + payload.size()));
  reply.push_back(responseCode);
  reply.push_back(0x00);  // device status: nothing to report
  reply.insert(reply.end(), payload.begin(), payload.end());
  reply.push_back(HartChecksum(&reply[delimiterAt], reply.size() - delimiterAt));
  return reply;
}
