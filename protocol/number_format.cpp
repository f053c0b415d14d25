#include "protocol/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string FormatGeneral(double value, char decimalPoint) {
  const std::string sign = std::signbit(value) ? "-" : "";
  if (std::isnan(value)) return sign + "NAN";
  if (std::isinf(value)) return sign + "INF";
  if (value == 0) return "0";

  // 15 significant digits, correctly rounded: "d.dddddddddddddde±x".
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  const char *e = std::strchr(buf, 'e');
  const int exponent = std::atoi(e + 1);
  std::string digits;
  for (const char *p = buf; p < e; ++p)
    if (*p != '.') digits += *p;
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

std::string CutTo(const std::string &text, size_t length) { return text.substr(0, std::min(length, text.size())); }
