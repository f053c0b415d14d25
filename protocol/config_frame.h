// Argument encodings of the module's configuration commands, and the search of keyed fields in
// its query replies. Every encoding that can produce a byte other than a decimal digit returns
// nothing instead, so that the caller refuses to send.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The selection index of a list as one ASCII digit: 3 gives '3'. No selection (-1) or an index
// above 9 gives nothing.
std::optional<uint8_t> IndexDigit(int index);

// For lists whose first item reads `firstDigit` ('3' or '4'): the byte equals the chosen item's
// text. Gives nothing when that would not be a digit.
std::optional<uint8_t> OffsetDigit(int index, char firstDigit);

// 7 gives "07"; values outside 0 to 99 give nothing.
std::optional<std::array<uint8_t, 2>> TwoDigitDecimal(int32_t value);

// 1 gives "001", 247 gives "247"; values outside 0 to 999 give nothing.
std::optional<std::array<uint8_t, 3>> ThreeDigitDecimal(int32_t value);

// Decimal with leading zeros up to `width` digits, more digits when needed, "-" before a negative
// value: 123 at width 8 gives "00000123", -5 at width 3 gives "-005".
std::string PaddedDecimal(int64_t value, int width);

// The parsers of the module's and the instrument's replies look at no more than the first 255
// characters of a delivery (what the window keeps as its reply text).
constexpr int kReplyTextMax = 255;

// First position in `reply` where `pattern` stands, or nothing. Where `wildcard` is not '\0',
// that character in the pattern matches any character of the reply.
std::optional<size_t> FindReplyKey(std::string_view reply, std::string_view pattern, char wildcard = '\0');

// The `length` characters of `reply` from `position`, or nothing when they run past its end.
std::optional<std::string_view> ReplyField(std::string_view reply, size_t position, size_t length);
