// The IEEE-754 calculator: four typed hexadecimal pairs, the value, and its general format.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/hex.h"
#include "protocol/ieee754_text.h"
#include "protocol/number_format.h"

namespace {

[[noreturn]] void Fail(std::string_view text, const std::string &what) {
  std::fprintf(stderr, "FINDING: \"%.*s\": %s\n", static_cast<int>(text.size()), text.data(), what.c_str());
  std::abort();
}

size_t SignificantDigits(const std::string &s) {
  const size_t end = s.find('E');
  size_t n = 0;
  bool leading = true;
  for (size_t i = 0; i < std::min(end, s.size()); ++i) {
    if (s[i] < '0' || s[i] > '9') continue;
    if (leading && s[i] == '0') continue;
    leading = false;
    ++n;
  }
  return n;
}

// The general format read back: the value it stands for, to single precision.
void CheckFormat(std::string_view text, float value, const std::string &point) {
  const std::string out = FormatGeneral(static_cast<double>(value), point);
  if (std::isnan(value)) {
    if (out != (std::signbit(value) ? "-NAN" : "NAN")) Fail(text, "NaN shown as " + out);
    return;
  }
  if (std::isinf(value)) {
    if (out != (value < 0 ? "-INF" : "INF")) Fail(text, "infinity shown as " + out);
    return;
  }
  if (SignificantDigits(out) > 15) Fail(text, "more than 15 significant digits: " + out);
  std::string readable = out;
  if (const size_t at = readable.find(point); at != std::string::npos) readable.replace(at, point.size(), ".");
  char *end = nullptr;
  const double back = std::strtod(readable.c_str(), &end);
  if (end != readable.c_str() + readable.size() || static_cast<float>(back) != value)
    Fail(text, "\"" + out + "\" does not read back as the value");
  const std::string cut = CutTo(out, 10);
  if (out.compare(0, cut.size(), cut) != 0 || cut.size() > 10 + point.size() - 1) Fail(text, "cut text wrong: " + cut);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const Ieee754Text parsed = ParseIeee754Text(text);
  if (parsed.error != Ieee754TextError::None) return 0;

  // Every pair spelled back; the pairs not typed are zero.
  const size_t pairs = text.size() / 3 + 1;
  for (size_t i = 0; i < 4; ++i) {
    if (i < pairs) {
      if (text.substr(3 * i, 2) != ByteToHex(parsed.bytes[i])) Fail(text, "pair " + std::to_string(i) + " misread");
    } else if (parsed.bytes[i] != 0) {
      Fail(text, "untyped byte not zero");
    }
  }
  uint32_t bits = 0;
  std::memcpy(&bits, &parsed.value, sizeof bits);
  const uint32_t expected = uint32_t{parsed.bytes[0]} << 24 | uint32_t{parsed.bytes[1]} << 16 |
                            uint32_t{parsed.bytes[2]} << 8 | parsed.bytes[3];
  if (bits != expected) Fail(text, "value is not the typed bit pattern");

  CheckFormat(text, parsed.value, ".");
  CheckFormat(text, parsed.value, ",");
  CheckFormat(text, parsed.value, "\u066B");  // the Arabic decimal separator, two bytes
  return 0;
}
