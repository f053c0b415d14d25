// Four bytes typed as hexadecimal pairs ("3F 80 00 00") read as an IEEE-754 single-precision value,
// the first byte most significant.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

enum class Ieee754TextError {
  None,
  NoSeparator,   // a position between two pairs holds anything but a blank
  BadCharacter,  // a pair character is not 0-9 or A-F, or the pair runs past the end of the text
};

struct Ieee754Text {
  Ieee754TextError error = Ieee754TextError::None;
  std::array<uint8_t, 4> bytes{};  // pairs not typed stay zero
  float value = 0;
};

// Every pair of the text is checked; only the first four are kept.
Ieee754Text ParseIeee754Text(std::string_view text);
