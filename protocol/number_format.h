// The general number format used for HART process values and the IEEE-754 calculator: a value as
// text with 15 significant digits, trailing zeros dropped, in fixed notation for magnitudes from
// 0.0001 up to (not including) 10^15 and in scientific notation ("1.5E-6", "1E15") otherwise.
// Zero gives "0"; infinities and NaNs give "INF" and "NAN", with "-" when the sign bit is set.
#pragma once

#include <cstdint>
#include <string>

std::string FormatGeneral(double value, char decimalPoint = '.');

// The 32-bit pattern as an IEEE-754 single-precision value, first byte most significant.
float FloatFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

// At most the first `length` characters of a text.
std::string CutTo(const std::string &text, size_t length);
