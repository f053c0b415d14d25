// The dynamic-variable answer (command 3) as it arrives from the line: any bytes. At most four
// variables are taken, and a value is shown in at most nine characters.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "protocol/hart_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::SameWhateverLiesPastTheDelivery(data, size, [](const uint8_t *copy, int searchLength, int held) {
    const auto variables = ReadDynamicVariables(copy, searchLength, held);
    if (!variables) return std::string("none");
    if (variables->size() > 4) fuzz::Fail("taken " + std::to_string(variables->size()));
    std::string out;
    for (const DynamicVariable &v : *variables) {
      const std::string text = DynamicValueText(v.value, ",");
      if (text.size() > 9) fuzz::Fail("value shown as " + text);
      out += std::to_string(v.unitCode) + ":" + text + " ";
    }
    return out;
  });
  return 0;
}
