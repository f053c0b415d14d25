// The key search of the module's replies and the field cut after it, against a plain search.
//
// Input: a byte choosing the wildcard, a byte giving the pattern length, the pattern, the reply.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "protocol/config_frame.h"

namespace {

std::optional<size_t> Plain(std::string_view reply, std::string_view pattern, char wildcard) {
  if (pattern.empty()) return std::nullopt;
  if (wildcard == '\0') {
    const size_t at = reply.find(pattern);
    return at == std::string_view::npos ? std::nullopt : std::optional<size_t>(at);
  }
  for (size_t k = 0; k < reply.size() && pattern.size() <= reply.size() - k; ++k) {
    bool same = true;
    for (size_t j = 0; j < pattern.size() && same; ++j) same = pattern[j] == wildcard || pattern[j] == reply[k + j];
    if (same) return k;
  }
  return std::nullopt;
}

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "FINDING: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const char wildcard = data[0] < 128 ? '\0' : data[0] < 192 ? '?' : static_cast<char>(data[0]);
  const std::string_view rest(reinterpret_cast<const char *>(data + 2), size - 2);
  const size_t patternLength = std::min<size_t>(data[1] % 32, rest.size());
  const std::string_view pattern = rest.substr(0, patternLength);
  const std::string_view reply = rest.substr(patternLength);

  const auto found = FindReplyKey(reply, pattern, wildcard);
  if (found != Plain(reply, pattern, wildcard)) Fail("FindReplyKey differs from a plain search");

  // The field after the key: either whole inside the reply, or nothing.
  const size_t position = found ? *found + pattern.size() : data[1];
  for (size_t length : {size_t{0}, size_t{1}, size_t{19}, reply.size(), static_cast<size_t>(-1)}) {
    const auto field = ReplyField(reply, position, length);
    const bool fits = position <= reply.size() && length <= reply.size() - position;
    if (field.has_value() != fits) Fail("ReplyField accepts a field past the end, or refuses one inside");
    if (field && (field->data() != reply.data() + position || field->size() != length))
      Fail("ReplyField gives the wrong characters");
  }
  return 0;
}
