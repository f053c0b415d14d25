// Bytes as hexadecimal and as text, and hexadecimal typed by a person, for every part of the
// program that shows or takes frames that way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The value of an upper-case hexadecimal digit ('0'-'9', 'A'-'F'); -1 for any other character.
int UpperHexDigit(char c);

// Two upper-case hexadecimal digits for 0..255 ("0A", "FF"); "." for anything above 255.
std::string ByteToHex(int32_t value);

// Each byte as ByteToHex followed by one blank: {01, 02, FF} gives "01 02 FF ".
std::string BytesToHexPairs(const uint8_t *bytes, size_t count);

// The bytes as pairs with one blank between them: {01, 02, FF} gives "01 02 FF".
std::string HexRun(const uint8_t *bytes, size_t count);

// A printable ASCII byte (0x20 to 0x7E).
constexpr bool IsPrintable(uint8_t b) { return static_cast<uint8_t>(b - 0x20) < 0x7F - 0x20; }

// The bytes as text: each printable ASCII byte as itself, any other as ".".
std::string TextRun(const uint8_t *bytes, size_t count);

// The same, appended to `out`: for the decoders, which build one text per frame and run millions
// of times under the fuzzers. AppendHex appends one byte's two digits.
void AppendHex(std::string &out, uint8_t byte);
void AppendHexRun(std::string &out, const uint8_t *bytes, size_t count);
void AppendTextRun(std::string &out, const uint8_t *bytes, size_t count);

// The window's rule for bytes typed as pairs separated by single blanks ("76 89 FD AD"): the count
// is the number of pairs that fit the text (a final lone character is ignored), capped at
// `maxBytes`; characters after the last counted pair are not looked at. Only upper-case digits.
enum class HexPairsError { None, NoSeparator, BadCharacter };
struct HexPairs {
  HexPairsError error = HexPairsError::None;
  std::vector<uint8_t> bytes;
};
HexPairs ParseHexPairs(std::string_view text, size_t maxBytes);

// The command line's rule: every character counts. Digits of either case, in pairs, with or
// without blanks (spaces, tabs) between the pairs; nothing is taken from a text with a character
// that is no digit, a group of an odd number of digits, or more than `maxBytes` bytes. `error`
// then says which character or group is wrong, counted from 1.
struct TypedHex {
  std::string error;  // empty when the text was taken
  std::vector<uint8_t> bytes;
};
TypedHex ParseTypedHex(std::string_view text, size_t maxBytes);
