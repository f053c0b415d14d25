// The text-to-integer conversion of every number box, against std::from_chars, and the argument
// encodings of the number it gives.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "protocol/config_frame.h"
#include "protocol/int_text.h"

namespace {

bool IsDigitOf(char c, int base) {
  if (c >= '0' && c <= '9') return true;
  return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// Blanks, a sign, a "$", "x", "X", "0x" or "0X" prefix, then digits that fit 32 bits signed.
std::optional<int32_t> Reference(const std::string &text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return std::nullopt;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int base = 10;
  if (text.compare(i, 1, "$") == 0 || text.compare(i, 1, "x") == 0 || text.compare(i, 1, "X") == 0) {
    base = 16;
    i += 1;
  } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  for (size_t k = i; k < text.size(); ++k)
    if (!IsDigitOf(text[k], base)) return std::nullopt;
  uint64_t magnitude = 0;
  const auto r = std::from_chars(text.data() + i, text.data() + text.size(), magnitude, base);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  if (magnitude > (negative ? 0x80000000ULL : 0x7FFFFFFFULL)) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
}

[[noreturn]] void Fail(const std::string &text, const char *what) {
  std::fprintf(stderr, "FINDING: \"%s\": %s\n", text.c_str(), what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const auto value = TryTextToInt(text);
  if (value != Reference(text)) Fail(text, "differs from the reference conversion");

  try {
    const int32_t thrown = TextToInt(text);
    if (!value || thrown != *value) Fail(text, "TextToInt accepts what TryTextToInt refuses");
  } catch (const EConvertError &e) {
    if (value) Fail(text, "TextToInt refuses what TryTextToInt accepts");
    // what() ends at the first NUL character of the text.
    const std::string message = "'" + text + "' is not a valid integer value";
    if (e.what() != message.substr(0, message.find('\0'))) Fail(text, "wrong conversion message");
  }

  // What is accepted comes back from its decimal and hexadecimal spelling.
  if (value) {
    if (TryTextToInt(std::to_string(*value)) != value) Fail(text, "decimal spelling does not come back");
    char hex[16];
    const int64_t v = *value;
    std::snprintf(hex, sizeof hex, "%s$%llX", v < 0 ? "-" : "", static_cast<unsigned long long>(v < 0 ? -v : v));
    if (TryTextToInt(hex) != value) Fail(text, "hexadecimal spelling does not come back");

    // Each encoding gives digits only for the values its field can carry.
    const int32_t n = *value;
    for (char first = '0'; first <= '9'; ++first) {
      const auto digit = OffsetDigit(n, first);
      if (digit.has_value() != (n >= 0 && n <= '9' - first) || (digit && *digit != first + n))
        Fail(text, "offset digit");
    }
    if (IndexDigit(n).has_value() != (n >= 0 && n <= 9)) Fail(text, "index digit");
    if (TwoDigitDecimal(n).has_value() != (n >= 0 && n <= 99)) Fail(text, "two-digit decimal");
    if (const auto three = ThreeDigitDecimal(n)) {
      if (TryTextToInt(std::string(three->begin(), three->end())) != n) Fail(text, "three-digit decimal");
    } else if (n >= 0 && n <= 999) {
      Fail(text, "three-digit decimal refused");
    }
    if (TryTextToInt(PaddedDecimal(n, 8)) != n) Fail(text, "padded decimal");
  }
  return 0;
}
