// The answer to the system-parameter query as it arrives from the line: any bytes, of which the
// parser sees at most 255 (ReplyText).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.h"
#include "protocol/config_frame.h"
#include "protocol/module_layouts.h"
#include "protocol/system_reply.h"

namespace {

namespace L = module_layout;

// A text field holds what stands after the first occurrence of its group's key, when the reply
// holds the whole group.
void CheckText(std::string_view reply, const L::Layout &group, size_t value, const std::optional<std::string> &field,
               bool stopped) {
  const std::string_view key = group.begin()->text;
  const auto k = FindReplyKey(reply, key);
  const bool whole = k && ReplyField(reply, *k, group.Whole());
  const L::Field &f = group.Value(value);
  if (field && (!whole || *field != reply.substr(*k + f.at, f.width))) fuzz::Fail(std::string(key) + " read wrongly");
  if (!field && whole && !stopped) fuzz::Fail(std::string(key) + " not read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char *>(data), std::min<size_t>(size, kReplyTextMax));
  const SystemParameters p = ReadSystemParameters(reply);
  const bool marked = FindReplyKey(reply, L::kSystemReplyMarker).has_value();
  const bool stopped = p.error.has_value();
  if (!marked && (p.slaveAddress || p.baudPosition || p.workingMode || p.coefficient || stopped))
    fuzz::Fail("read a reply without its marker");
  for (const auto &position : {p.baudPosition, p.parityPosition, p.workingMode, p.returnTime})
    if (position && (*position < 0 || *position > 9)) fuzz::Fail("a position outside 0 to 9");
  if (stopped && p.error->find("' is not a valid integer value") == std::string::npos)
    fuzz::Fail("error message " + *p.error);
  if (!marked) return 0;
  CheckText(reply, L::kSlaveAddress, 0, p.slaveAddress, stopped);
  CheckText(reply, L::kHartInterval, 0, p.hartInterval, stopped);
  CheckText(reply, L::kTotalizerGroup, 0, p.rangeUpper, stopped);
  CheckText(reply, L::kTotalizerGroup, 1, p.rangeLower, stopped);
  CheckText(reply, L::kTotalizerGroup, 2, p.totalizerStart, stopped);
  CheckText(reply, L::kCutoffGroup, 0, p.cutoff, stopped);
  CheckText(reply, L::kCoefficientFactorGroup, 0, p.coefficient, stopped);
  return 0;
}
