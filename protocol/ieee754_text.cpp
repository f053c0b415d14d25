#include "protocol/ieee754_text.h"

#include "protocol/hex.h"
#include "protocol/number_format.h"

Ieee754Text ParseIeee754Text(std::string_view text) {
  Ieee754Text result;
  const size_t pairs = text.size() / 3 + 1;
  for (size_t i = 0; i + 1 < pairs; ++i) {
    if (text[3 * i + 2] != ' ') {
      result.error = Ieee754TextError::NoSeparator;
      return result;
    }
  }
  bool valid = true;
  for (size_t i = 0; i < pairs; ++i) {
    const size_t at = 3 * i;
    const int hi = at < text.size() ? UpperHexDigit(text[at]) : -1;
    const int lo = at + 1 < text.size() ? UpperHexDigit(text[at + 1]) : -1;
    if (hi < 0 || lo < 0) {
      valid = false;
      continue;
    }
    if (i < result.bytes.size()) result.bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (!valid) {
    result.error = Ieee754TextError::BadCharacter;
    return result;
  }
  const auto &b = result.bytes;
  result.value = FloatFromBytes(b[0], b[1], b[2], b[3]);
  return result;
}
