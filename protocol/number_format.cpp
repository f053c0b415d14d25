#include "protocol/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

void AppendGeneral(std::string &out, double value, std::string_view decimalPoint) {
  const bool negative = std::signbit(value);
  if (std::isnan(value) || std::isinf(value)) {
    if (negative) out += '-';
    out += std::isnan(value) ? "NAN" : "INF";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }

  // 15 significant digits, correctly rounded: "d.dddddddddddddde+xx", whatever the locale.
  char text[40];
  const char *const textEnd = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific, 14).ptr;
  const char *const e = std::find(static_cast<const char *>(text), textEnd, 'e');
  const char *exponentText = e == textEnd ? e : e + 1;
  if (exponentText != textEnd && *exponentText == '+') ++exponentText;
  int exponent = 0;
  std::from_chars(exponentText, textEnd, exponent);
  char digits[sizeof text];
  size_t n = 0;
  for (const char *c = text; c != e; ++c)
    if (*c != '.') digits[n++] = *c;
  while (n > 1 && digits[n - 1] == '0') --n;

  if (negative) out += '-';
  if (exponent >= -4 && exponent < 15) {
    if (exponent < 0) {
      out += '0';
      out += decimalPoint;
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out.append(digits, n);
    } else {
      const size_t whole = static_cast<size_t>(exponent) + 1;
      if (n <= whole) {
        out.append(digits, n);
        out.append(whole - n, '0');
      } else {
        out.append(digits, whole);
        out += decimalPoint;
        out.append(digits + whole, n - whole);
      }
    }
  } else {
    out += digits[0];
    if (n > 1) {
      out += decimalPoint;
      out.append(digits + 1, n - 1);
    }
    out += 'E';
    char exponentDigits[8];
    out.append(exponentDigits, std::to_chars(exponentDigits, exponentDigits + sizeof exponentDigits, exponent).ptr);
  }
}

std::string FormatGeneral(double value, std::string_view decimalPoint) {
  std::string out;
  AppendGeneral(out, value, decimalPoint);
  return out;
}

float FloatFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint32_t bits = (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::string CutTo(const std::string &text, size_t length) {
  size_t end = 0;
  for (size_t kept = 0; end < text.size() && kept < length; ++kept) {
    ++end;
    // Continuation bytes (10xxxxxx) belong to the character before them.
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return text.substr(0, end);
}
