// Bytes typed as hexadecimal pairs: the window's rule (the manual HART command, the custom MODBUS
// commands) and the command line's (every character counts).
//
// Input: a byte giving the most bytes taken, then the typed text.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/hart.h"
#include "protocol/hex.h"

namespace {

[[noreturn]] void Fail(std::string_view text, const char *what) {
  std::fprintf(stderr, "FINDING: \"%.*s\": %s\n", static_cast<int>(text.size()), text.data(), what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t maxBytes = data[0];
  const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
  // The command line's rule: what it takes spells the text back, blanks dropped and in capitals.
  const TypedHex typed = ParseTypedHex(text, maxBytes);
  if (typed.error.empty()) {
    std::string digits;
    for (char c : text)
      if (c != ' ' && c != '\t') digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string spelled;
    for (uint8_t b : typed.bytes) spelled += ByteToHex(b);
    if (spelled != digits || typed.bytes.size() > maxBytes || typed.bytes.empty()) Fail(text, "typed bytes do not spell the text");
  } else if (!typed.bytes.empty()) {
    Fail(text, "typed bytes kept with an error");
  }

  const HexPairs parsed = ParseHexPairs(text, maxBytes);

  if (parsed.error != HexPairsError::None) {
    if (!parsed.bytes.empty()) Fail(text, "bytes kept with an error");
    return 0;
  }
  // Pairs that fit the text (a final lone character ignored), at most maxBytes of them, each
  // followed by a blank but the last.
  const size_t pairs = std::min(text.size() / 3 + (text.size() % 3 == 2 ? 1 : 0), maxBytes);
  if (pairs == 0 || parsed.bytes.size() != pairs) Fail(text, "wrong number of bytes");
  std::string spelled = BytesToHexPairs(parsed.bytes.data(), parsed.bytes.size());
  spelled.pop_back();
  if (text.substr(0, spelled.size()) != spelled) Fail(text, "bytes do not spell the text back");
  return 0;
}
