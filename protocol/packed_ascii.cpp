#include "protocol/packed_ascii.h"

namespace {

constexpr char kFirstPackable = 0x20;  // space
constexpr char kLastPackable = 0x5F;   // underscore
constexpr uint8_t kSixBits = 0x3F;
constexpr size_t kCharactersPerGroup = 4;
constexpr size_t kBytesPerGroup = 3;

bool IsLowerCaseLetter(char c) { return c >= 'a' && c <= 'z'; }
char ToUpper(char c) { return IsLowerCaseLetter(c) ? static_cast<char>(c - 'a' + 'A') : c; }
bool Packable(char c) { return c >= kFirstPackable && c <= kLastPackable; }

// The length of the UTF-8 character that starts at `at` (1 for a stray continuation byte).
size_t CharacterLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < length && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) ++n;
  return n;
}

std::string Shown(const std::string &character) {
  if (character.size() == 1 && static_cast<unsigned char>(character[0]) < 0x20) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto c = static_cast<unsigned char>(character[0]);
    return std::string("control character 0x") + kHex[c >> 4] + kHex[c & 0xF];
  }
  return "'" + character + "'";
}

}  // namespace

std::optional<UnpackableCharacter> FindUnpackable(std::string_view text) {
  size_t position = 0;
  for (size_t at = 0; at < text.size(); ++position) {
    const size_t length = CharacterLength(text, at);
    if (length > 1 || !Packable(ToUpper(text[at]))) return UnpackableCharacter{position, std::string(text.substr(at, length))};
    at += length;
  }
  return std::nullopt;
}

PackedAscii PackAscii(std::string_view text, size_t width) {
  PackedAscii out;
  if (const auto bad = FindUnpackable(text)) {
    out.problem = "character " + std::to_string(bad->position + 1) + " (" + Shown(bad->character) +
                  ") is not in packed ASCII (space to '_', letters in upper case)";
    return out;
  }
  if (text.size() > width) {
    out.problem = std::to_string(text.size()) + " characters, " + std::to_string(width) + " at most";
    return out;
  }
  std::string padded(text);
  padded.resize((width + kCharactersPerGroup - 1) / kCharactersPerGroup * kCharactersPerGroup, ' ');
  for (char &c : padded) {
    if (IsLowerCaseLetter(c)) out.turnedToUpperCase = true;
    c = ToUpper(c);
  }
  out.bytes.reserve(padded.size() / kCharactersPerGroup * kBytesPerGroup);
  for (size_t at = 0; at < padded.size(); at += kCharactersPerGroup) {
    uint32_t group = 0;
    for (size_t i = 0; i < kCharactersPerGroup; ++i) group = group << 6 | (static_cast<uint8_t>(padded[at + i]) & kSixBits);
    for (int shift = 16; shift >= 0; shift -= 8) out.bytes.push_back(static_cast<uint8_t>(group >> shift));
  }
  return out;
}

std::string UnpackAscii(const uint8_t *bytes, size_t count) {
  std::string out;
  out.reserve(count / kBytesPerGroup * kCharactersPerGroup);
  for (size_t at = 0; at + kBytesPerGroup <= count; at += kBytesPerGroup) {
    const uint32_t group = uint32_t{bytes[at]} << 16 | uint32_t{bytes[at + 1]} << 8 | bytes[at + 2];
    for (int shift = 18; shift >= 0; shift -= 6) {
      const auto six = static_cast<uint8_t>(group >> shift & kSixBits);
      // 0x00-0x1F stand for '@' to '_', 0x20-0x3F for themselves (space to '?').
      out.push_back(static_cast<char>(six < 0x20 ? six + 0x40 : six));
    }
  }
  return out;
}

std::string UnpackAsciiTrimmed(const uint8_t *bytes, size_t count) {
  std::string text = UnpackAscii(bytes, count);
  const size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}
