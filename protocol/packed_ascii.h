// HART packed ASCII: the tag, descriptor and message of an instrument, four 6-bit characters in
// three bytes. The alphabet is the 64 characters from space (0x20) to underscore (0x5F); each is
// sent as its low six bits. Lower-case letters are turned to upper case; nothing else outside the
// alphabet can be sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A character of a UTF-8 text that packed ASCII cannot hold: its position, counted in characters
// from 0, and the character as it was typed (all of its bytes).
struct UnpackableCharacter {
  size_t position = 0;
  std::string character;
};
// The first character packed ASCII cannot hold, after lower case is turned to upper case; nothing
// when every character fits.
std::optional<UnpackableCharacter> FindUnpackable(std::string_view text);

// A text packed into a field of `width` characters (a multiple of 4; others are rounded up),
// padded with spaces.
struct PackedAscii {
  std::vector<uint8_t> bytes;  // width * 3 / 4 bytes; empty when there is a problem
  std::string problem;         // "" when packed: "9 characters, 8 at most", "character 3 ('é') ..."
  bool turnedToUpperCase = false;  // lower-case letters were sent as upper case
};
PackedAscii PackAscii(std::string_view text, size_t width);

// The characters of packed bytes: four for every three bytes, a last incomplete group dropped.
std::string UnpackAscii(const uint8_t *bytes, size_t count);
// The same without the spaces that pad the field on the right.
std::string UnpackAsciiTrimmed(const uint8_t *bytes, size_t count);
