#include "protocol/hex.h"

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string ByteToHex(int32_t value) {
  if (value > 255 || value < 0) return ".";
  return {kDigits[value / 16], kDigits[value % 16]};
}

std::string BytesToHexPairs(const uint8_t *bytes, size_t count) {
  std::string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    out += ByteToHex(bytes[i]);
    out += ' ';
  }
  return out;
}
