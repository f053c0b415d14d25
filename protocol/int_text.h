// The text-to-integer conversion every number box shares.
//
// Accepted: optional leading blanks, an optional sign, then decimal digits, or hexadecimal digits
// after one of the prefixes "$", "x", "X", "0x", "0X"; nothing may follow. The value must fit a
// signed 32-bit integer. Anything else is refused with "'<text>' is not a valid integer value".
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::optional<int32_t> TryTextToInt(std::string_view text);

// Throws EConvertError with the conversion message naming the text.
int32_t TextToInt(const std::string &text);

std::string NotAnIntegerMessage(const std::string &text);
