// The dynamic-variable answer (command 3) as it arrives from the line: any bytes. The receive copy
// holds up to 404 of them, the search looks at up to 255; whatever earlier deliveries left past
// this one must not change the outcome.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/pure_fail.h"
#include "protocol/hart_reply.h"

namespace {

constexpr int kRoom = 404;

std::string Outcome(const uint8_t *data, size_t size, uint8_t stale) {
  std::array<uint8_t, kRoom> copy;
  copy.fill(stale);
  const int held = static_cast<int>(std::min<size_t>(size, kRoom));
  std::memcpy(copy.data(), data, static_cast<size_t>(held));
  const auto variables = ReadDynamicVariables(copy.data(), std::min(held, 255), held);
  if (!variables) return "none";
  if (variables->size() > 4) fuzz::Fail("taken " + std::to_string(variables->size()));
  std::string out;
  for (const DynamicVariable &v : *variables) {
    const std::string text = DynamicValueText(v.value, ",");
    if (text.size() > 9) fuzz::Fail("value shown as " + text);
    out += std::to_string(v.unitCode) + ":" + text + " ";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string first = Outcome(data, size, 0x00);
  for (uint8_t stale : {0xFF, 0x7F})
    if (Outcome(data, size, stale) != first) fuzz::Fail("the outcome depends on bytes past the delivery");
  return 0;
}
