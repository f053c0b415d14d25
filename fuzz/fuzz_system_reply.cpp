// The answer to the system-parameter query as it arrives from the line: any bytes, of which the
// parser sees at most 255 (ReplyText).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.h"
#include "protocol/config_frame.h"
#include "protocol/system_reply.h"

namespace {

// A text field holds what stands after the first occurrence of its key, when the reply holds the
// key's whole group of `group` characters.
void CheckText(std::string_view reply, std::string_view key, size_t group, size_t at, size_t length,
               const std::optional<std::string> &field, bool stopped) {
  const auto k = FindReplyKey(reply, key);
  const bool whole = k && ReplyField(reply, *k + key.size(), group);
  if (field && (!whole || *field != reply.substr(*k + key.size() + at, length)))
    fuzz::Fail(std::string(key) + " read wrongly");
  if (!field && whole && !stopped) fuzz::Fail(std::string(key) + " not read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char *>(data), std::min<size_t>(size, 255));
  const SystemParameters p = ReadSystemParameters(reply);
  const bool marked = FindReplyKey(reply, "QX").has_value();
  const bool stopped = p.error.has_value();
  if (!marked && (p.slaveAddress || p.baudPosition || p.workingMode || p.coefficient || stopped))
    fuzz::Fail("read a reply without QX");
  for (const auto &position : {p.baudPosition, p.parityPosition, p.workingMode, p.returnTime})
    if (position && (*position < 0 || *position > 9)) fuzz::Fail("a position outside 0 to 9");
  if (stopped && p.error->find("' is not a valid integer value") == std::string::npos)
    fuzz::Fail("error message " + *p.error);
  if (!marked) return 0;
  CheckText(reply, "ADR:", 3, 0, 3, p.slaveAddress, stopped);
  CheckText(reply, "JTM:", 3, 0, 3, p.hartInterval, stopped);
  CheckText(reply, "AIN:", 19, 0, 6, p.rangeUpper, stopped);
  CheckText(reply, "AIN:", 19, 7, 6, p.rangeLower, stopped);
  CheckText(reply, "AIN:", 19, 14, 5, p.totalizerStart, stopped);
  CheckText(reply, "ZOM:", 5, 0, 5, p.cutoff, stopped);
  CheckText(reply, "ADX:", 4, 0, 4, p.coefficient, stopped);
  return 0;
}
