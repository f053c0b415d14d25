#include "protocol/config_frame.h"

std::optional<uint8_t> IndexDigit(int index) {
  if (index < 0 || index > 9) return std::nullopt;
  return static_cast<uint8_t>('0' + index);
}

std::optional<uint8_t> OffsetDigit(int index, char firstDigit) {
  // Checked before any arithmetic: an index near INT_MAX must not overflow.
  if (index < 0 || firstDigit < '0' || firstDigit > '9' || index > '9' - firstDigit) return std::nullopt;
  return static_cast<uint8_t>(firstDigit + index);
}

std::optional<std::array<uint8_t, 2>> TwoDigitDecimal(int32_t value) {
  if (value < 0 || value > 99) return std::nullopt;
  return std::array<uint8_t, 2>{static_cast<uint8_t>('0' + value / 10), static_cast<uint8_t>('0' + value % 10)};
}

std::optional<std::array<uint8_t, 3>> ThreeDigitDecimal(int32_t value) {
  if (value < 0 || value > 999) return std::nullopt;
  return std::array<uint8_t, 3>{static_cast<uint8_t>('0' + value / 100),
                                static_cast<uint8_t>('0' + value / 10 % 10),
                                static_cast<uint8_t>('0' + value % 10)};
}

std::string PaddedDecimal(int64_t value, int width) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

std::optional<size_t> FindReplyKey(std::string_view reply, std::string_view pattern, char wildcard) {
  if (pattern.empty() || pattern.size() > reply.size()) return std::nullopt;
  for (size_t k = 0; k + pattern.size() <= reply.size(); ++k) {
    size_t j = 0;
    while (j < pattern.size() && ((wildcard != '\0' && pattern[j] == wildcard) || reply[k + j] == pattern[j])) ++j;
    if (j == pattern.size()) return k;
  }
  return std::nullopt;
}

std::optional<std::string_view> ReplyField(std::string_view reply, size_t position, size_t length) {
  if (position > reply.size() || length > reply.size() - position) return std::nullopt;
  return reply.substr(position, length);
}
