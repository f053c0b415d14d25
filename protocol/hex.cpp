#include "protocol/hex.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

bool Printable(uint8_t b) { return b >= 0x20 && b < 0x7F; }

bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int UpperHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ByteToHex(int32_t value) {
  if (value > 255 || value < 0) return ".";
  return {kDigits[value / 16], kDigits[value % 16]};
}

std::string BytesToHexPairs(const uint8_t *bytes, size_t count) {
  std::string out;
  out.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    out += ' ';
  }
  return out;
}

std::string HexRun(const uint8_t *bytes, size_t count) {
  std::string out = BytesToHexPairs(bytes, count);
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TextRun(const uint8_t *bytes, size_t count) {
  std::string out(count, '.');
  for (size_t i = 0; i < count; ++i)
    if (Printable(bytes[i])) out[i] = static_cast<char>(bytes[i]);
  return out;
}

HexPairs ParseHexPairs(std::string_view text, size_t maxBytes) {
  HexPairs result;
  size_t n = text.size() / 3 + (text.size() % 3 == 2 ? 1 : 0);
  if (n > maxBytes) n = maxBytes;
  if (n == 0) {
    result.error = HexPairsError::NoSeparator;
    return result;
  }
  for (size_t k = 0; k + 1 < n; ++k) {
    if (text[3 * k + 2] != ' ') {
      result.error = HexPairsError::NoSeparator;
      return result;
    }
  }
  bool valid = true;
  for (size_t k = 0; k < n; ++k) {
    const int hi = UpperHexDigit(text[3 * k]);
    const int lo = UpperHexDigit(text[3 * k + 1]);
    if (hi < 0 || lo < 0) valid = false;
    result.bytes.push_back(static_cast<uint8_t>(((hi < 0 ? 0 : hi) << 4) | (lo < 0 ? 0 : lo)));
  }
  if (!valid) {
    result.error = HexPairsError::BadCharacter;
    result.bytes.clear();
  }
  return result;
}

TypedHex ParseTypedHex(std::string_view text, size_t maxBytes) {
  TypedHex result;
  auto refuse = [&](std::string why) {
    result.error = std::move(why);
    result.bytes.clear();
    return result;
  };
  size_t i = 0;
  while (i < text.size()) {
    if (Blank(text[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < text.size() && !Blank(text[i])) {
      const char c = text[i];
      const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
      if (UpperHexDigit(upper) < 0) {
        const bool shows = static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
        return refuse("character " + std::to_string(i + 1) + " (" +
                      (shows ? "\"" + std::string(1, c) + "\"" : "byte " + ByteToHex(static_cast<uint8_t>(c))) +
                      ") is not a hexadecimal digit");
      }
      ++i;
    }
    if ((i - start) % 2 != 0)
      return refuse("\"" + std::string(text.substr(start, i - start)) + "\" at character " + std::to_string(start + 1) +
                    " has an odd number of digits");
    for (size_t k = start; k < i; k += 2) {
      auto digit = [](char c) { return UpperHexDigit(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c); };
      result.bytes.push_back(static_cast<uint8_t>(digit(text[k]) << 4 | digit(text[k + 1])));
    }
    if (result.bytes.size() > maxBytes)
      return refuse("more than " + std::to_string(maxBytes) + " bytes");
  }
  if (result.bytes.empty()) return refuse("no bytes");
  return result;
}
