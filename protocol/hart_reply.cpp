#include "protocol/hart_reply.h"

#include <algorithm>

#include "protocol/number_format.h"

namespace {

namespace A = hart_answer;

// Distances from the last preamble byte: the delimiter, the address, the command and the byte
// count come before the data.
constexpr int DataAt(size_t addressLength) { return static_cast<int>(4 + addressLength); }
constexpr int kIdentityData = DataAt(hart::kShortAddressLength);
constexpr int kIdentityLastByte = kIdentityData + static_cast<int>(A::kIdentityLength) - 1;
constexpr int kByteCount = DataAt(hart::kLongAddressLength) - 1;
constexpr int kFirstVariable = DataAt(hart::kLongAddressLength) + static_cast<int>(A::kFirstVariable);
constexpr int kVariableStride = static_cast<int>(A::kVariableStride);
// The data bytes up to the end of variable 1.
constexpr int kThroughFirstVariable = static_cast<int>(A::kFirstVariable + A::kVariableStride);

}  // namespace

std::optional<int> FindHartReply(const uint8_t *reply, int searchLength, int held, uint8_t delimiter) {
  const int length = std::min(searchLength, held);
  for (int i = 0; i + 5 <= length; ++i)
    if (reply[i] == hart::kPreamble && reply[i + 1] == delimiter) return i;
  return std::nullopt;
}

std::optional<IdentityReply> ReadIdentityReply(const uint8_t *reply, int searchLength, int held) {
  const auto i = FindHartReply(reply, searchLength, held, hart::kShortReply);
  // Only bytes of this delivery count: one that ends before the device identifier is no answer.
  if (!i || *i + kIdentityLastByte >= held) return std::nullopt;
  const uint8_t *r = reply + *i;
  IdentityReply out;
  const uint8_t *d = r + kIdentityData;
  out.identity = {d[A::kManufacturer], d[A::kDeviceType], {d[A::kDeviceId], d[A::kDeviceId + 1], d[A::kDeviceId + 2]}};
  out.preambleNeed = d[A::kPreambleNeed];
  out.universalRevision = d[A::kUniversalRevision];
  return out;
}

std::optional<std::vector<DynamicVariable>> ReadDynamicVariables(const uint8_t *reply, int searchLength, int held) {
  const auto i = FindHartReply(reply, searchLength, held, hart::kLongReply);
  if (!i || *i + kByteCount >= held) return std::nullopt;
  const int byteCount = reply[*i + kByteCount];
  // Variable 1 always; variable k + 2 for each k with 5k < byteCount - 11.
  int taken = 1;
  for (int k = 0; k < 3 && byteCount > kThroughFirstVariable && kVariableStride * k < byteCount - kThroughFirstVariable; ++k)
    taken = k + 2;

  std::vector<DynamicVariable> variables;
  for (int v = 0; v < taken; ++v) {
    const int at = *i + kFirstVariable + kVariableStride * v;
    if (at + 4 >= held) break;  // only variables received whole count
    DynamicVariable variable;
    variable.unitCode = reply[at];
    for (int b = 0; b < 4; ++b) variable.value[static_cast<size_t>(b)] = reply[at + 1 + b];
    variables.push_back(variable);
  }
  return variables;
}

std::string DynamicValueText(const std::array<uint8_t, 4> &value, std::string_view decimalPoint) {
  if (value[0] == hart::kNotANumberFirstByte) return "00000000";
  return CutTo(FormatGeneral(FloatFromBytes(value[0], value[1], value[2], value[3]), decimalPoint), 9);
}
