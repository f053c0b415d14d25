// The general number format used for HART process values and the IEEE-754 calculator: a value as
// text with 15 significant digits, trailing zeros dropped, in fixed notation for magnitudes from
// 0.0001 up to (not including) 10^15 and in scientific notation ("1.5E-6", "1E15") otherwise.
// Zero gives "0"; infinities and NaNs give "INF" and "NAN", with "-" when the sign bit is set.
//
// The digits never depend on the C library's locale; the decimal separator is the one passed in,
// as UTF-8 text (the user's "," or an Arabic U+066B are shown as they are).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string FormatGeneral(double value, std::string_view decimalPoint = ".");
// The same, appended to `out`.
void AppendGeneral(std::string &out, double value, std::string_view decimalPoint = ".");

// The 32-bit pattern as an IEEE-754 single-precision value, first byte most significant.
float FloatFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

// At most the first `length` characters of a UTF-8 text; a character of several bytes is kept or
// cut whole.
std::string CutTo(const std::string &text, size_t length);
