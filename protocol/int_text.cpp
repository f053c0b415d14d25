#include "protocol/int_text.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<int32_t> TryTextToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;

  // The magnitude may reach 2^31 for a negative value.
  const uint64_t limit = negative ? 0x80000000ULL : 0x7FFFFFFFULL;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int d = HexValue(text[i]);
    if (d < 0 || d >= base) return std::nullopt;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (magnitude > limit) return std::nullopt;
  }
  int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(value);
}

std::string NotAnIntegerMessage(const std::string &text) {
  return "'" + text + "' is not a valid integer value";
}

int32_t TextToInt(const std::string &text) {
  auto v = TryTextToInt(text);
  if (!v) throw EConvertError(NotAnIntegerMessage(text));
  return *v;
}
