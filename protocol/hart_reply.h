// The instrument's answers to HART commands 0 and 3 as they come from the module: found in a
// delivery by the last preamble byte and the delimiter, their fields read at their standard
// distances. `reply` holds `held` bytes of the delivery; the search looks at its first
// `searchLength` bytes (at most kReplyTextMax, as the window's ReplyText) and never at more than `held`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/hart.h"

// Where the answers to commands 0 and 3 hold their fields, counted from the first data byte (the
// response code); the parsers below and the line decoder read them alike.
namespace hart_answer {
constexpr size_t kStatusBytes = 2;  // response code, device status
// Command 0: the identity.
constexpr size_t kManufacturer = 3;
constexpr size_t kDeviceType = 4;
constexpr size_t kPreambleNeed = 5;
constexpr size_t kUniversalRevision = 6;
constexpr size_t kDeviceRevision = 7;
constexpr size_t kSoftwareRevision = 8;
constexpr size_t kHardwareRevision = 9;  // and the physical signalling code in its low three bits
constexpr size_t kIdentityFlags = 10;
constexpr size_t kDeviceId = 11;  // three bytes, most significant first
constexpr size_t kIdentityLength = kDeviceId + 3;
// Universal revision 6 and later go on.
constexpr size_t kResponsePreambleNeed = 14;
constexpr size_t kMaxDeviceVariables = 15;
constexpr size_t kConfigurationChangeCounter = 16;  // two bytes
constexpr size_t kExtendedDeviceStatus = 18;
// Universal revision 7 goes on.
constexpr size_t kManufacturerCode = 19;          // two bytes
constexpr size_t kPrivateLabelDistributor = 21;  // two bytes
constexpr size_t kDeviceProfile = 23;
constexpr size_t kRevision7IdentityLength = kDeviceProfile + 1;
// Command 3: the loop current, then the variables, each a unit code and four value bytes.
constexpr size_t kLoopCurrent = 2;
constexpr size_t kFirstVariable = 6;
constexpr size_t kVariableStride = 5;
}  // namespace hart_answer

// The first i, 0 <= i <= searchLength - 5, with reply bytes i and i + 1 equal to the preamble and
// `delimiter`; nothing when there is none.
std::optional<int> FindHartReply(const uint8_t *reply, int searchLength, int held, uint8_t delimiter);

// Command 0 (a short-frame reply). Nothing when no reply is found or the delivery ends before the
// device identifier.
struct IdentityReply {
  HartIdentity identity;
  uint8_t preambleNeed = 0;  // the number of request preambles the instrument asks for
  uint8_t universalRevision = 0;  // the HART revision whose universal commands it answers
};
std::optional<IdentityReply> ReadIdentityReply(const uint8_t *reply, int searchLength, int held);

// Command 3 (a long-frame reply): variable 1 always, variables 2 to 4 as the byte count says, and of
// those only the ones received whole. Nothing when no reply is found or its byte count is missing.
struct DynamicVariable {
  uint8_t unitCode = 0;
  std::array<uint8_t, 4> value{};  // IEEE-754 single, first byte most significant
};
std::optional<std::vector<DynamicVariable>> ReadDynamicVariables(const uint8_t *reply, int searchLength, int held);

// A variable's value as the window shows it: "00000000" when the first byte marks HART's
// not-a-number (or anything above), otherwise the general number format cut to 9 characters.
std::string DynamicValueText(const std::array<uint8_t, 4> &value, std::string_view decimalPoint = ".");
