// The instrument's settings on any typed text: a value is either made canonical or refused with a
// reason; a canonical value checks to itself; and the frame planned for it, taken back as the
// instrument's echo, gives the same value (what hart set's reading back relies on).
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "protocol/hart_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const auto &settings = HartSettings();
  const HartSettingSpec &spec = settings[data[0] % settings.size()];
  const std::string typed(reinterpret_cast<const char *>(data + 1), size - 1);
  const HartValueCheck check = CheckHartValue(spec, typed);
  if (check.value.has_value() == !check.problem.empty()) fuzz::Fail("a value and a problem, or neither");
  if (!check.value) return 0;
  const HartValueCheck again = CheckHartValue(spec, *check.value);
  if (again.value != check.value) fuzz::Fail(std::string(spec.name) + ": the canonical value does not check to itself");

  const HartValues held = {{"tag", "T"},           {"descriptor", "D"},    {"date", "2000-01-01"},
                           {"message", ""},        {"final_assembly", "1"}, {"long_tag", ""},
                           {"pv_units", "bar"},    {"lower_range", "0"},   {"upper_range", "1"},
                           {"damping", "0"},       {"polling_address", "1"}, {"response_preambles", "5"}};
  const HartWritePlan plan = PlanHartWrites(held, {{spec.name, *check.value}}, 7);
  HartValues echoed;
  for (const HartWrite &write : plan.writes) {
    std::string problem;
    if (!TakeHartReply(write.command, write.data, &echoed, &problem)) fuzz::Fail("a planned frame's echo is not read");
  }
  const bool equal = held.at(spec.name) == *check.value;
  if (equal != plan.writes.empty() && plan.problems.empty()) fuzz::Fail("a frame for an equal value, or none for another");
  if (!plan.writes.empty() && echoed[spec.name] != *check.value)
    fuzz::Fail(std::string(spec.name) + ": \"" + *check.value + "\" comes back as \"" + echoed[spec.name] + "\"");
  return 0;
}
