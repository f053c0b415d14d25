#include "protocol/hex.h"

#include <array>
#include <cstring>

#include "protocol/byte_loop.h"

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Each byte's two digits and a blank, four characters a cell, so that a cell is copied in one store.
struct HexCell {
  char text[4];
};
constexpr std::array<HexCell, 256> MakeHexCells() {
  std::array<HexCell, 256> cells{};
  for (size_t b = 0; b < cells.size(); ++b) cells[b] = {{kDigits[b >> 4], kDigits[b & 0x0F], ' ', '\0'}};
  return cells;
}
constexpr std::array<HexCell, 256> kHexCells = MakeHexCells();

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

void AppendHex(std::string &out, uint8_t byte) { out.append(kHexCells[byte].text, 2); }

RQ735_BYTE_LOOP void AppendHexRun(std::string &out, const uint8_t *bytes, size_t count) {
  if (count == 0) return;
  const size_t at = out.size();
  out.resize(at + 3 * count + 1);  // room for the last cell's fourth character
  char *p = &out[at];
  for (const uint8_t *b = bytes, *end = bytes + count; b != end; ++b, p += 3) std::memcpy(p, kHexCells[*b].text, 4);
  out.resize(at + 3 * count - 1);  // without the last blank
}

RQ735_BYTE_LOOP void AppendTextRun(std::string &out, const uint8_t *bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) out += IsPrintable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
}

std::string BytesToHexPairs(const uint8_t *bytes, size_t count) {
  std::string out;
  AppendHexRun(out, bytes, count);
  if (count > 0) out += ' ';
  return out;
}

std::string HexRun(const uint8_t *bytes, size_t count) {
  std::string out;
  AppendHexRun(out, bytes, count);
  return out;
}

std::string TextRun(const uint8_t *bytes, size_t count) {
  std::string out;
  out.reserve(count);
  AppendTextRun(out, bytes, count);
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
