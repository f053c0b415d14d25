#include "protocol/number_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

std::string FormatGeneral(double value, std::string_view decimalPoint) {
  const std::string sign = std::signbit(value) ? "-" : "";
  if (std::isnan(value)) return sign + "NAN";
  if (std::isinf(value)) return sign + "INF";
  if (value == 0) return "0";

  // 15 significant digits, correctly rounded: "d.dddddddddddddde+xx", whatever the locale.
  char buf[40];
  const auto written = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
  const std::string_view text(buf, static_cast<size_t>(written.ptr - buf));
  const size_t e = text.find('e');
  std::string_view exponentText = text.substr(e + 1);
  if (!exponentText.empty() && exponentText.front() == '+') exponentText.remove_prefix(1);
  int exponent = 0;
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
  std::string digits;
  for (char c : text.substr(0, e))
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out;
  if (exponent >= -4 && exponent < 15) {
    if (exponent < 0) {
      out = "0";
      out += decimalPoint;
      out += std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
      const size_t whole = static_cast<size_t>(exponent) + 1;
      if (digits.size() <= whole) {
        out = digits + std::string(whole - digits.size(), '0');
      } else {
        out = digits.substr(0, whole);
        out += decimalPoint;
        out += digits.substr(whole);
      }
    }
  } else {
    out = digits.substr(0, 1);
    if (digits.size() > 1) {
      out += decimalPoint;
      out += digits.substr(1);
    }
    out += 'E' + std::to_string(exponent);
  }
  return sign + out;
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
