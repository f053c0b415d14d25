#include "protocol/system_reply.h"

#include "protocol/config_frame.h"
#include "protocol/int_text.h"
#include "protocol/module_layouts.h"

namespace {

namespace L = module_layout;

struct StopReading {
  std::string message;
};

// A digit field's position; a character that is no digit stops the reading, named.
int Position(const L::ReplyGroup &group, size_t value) {
  if (const auto position = group.Position(value)) return *position;
  throw StopReading{NotAnIntegerMessage(std::string(group.Text(value)))};
}

}  // namespace

SystemParameters ReadSystemParameters(std::string_view reply) {
  SystemParameters p;
  if (!FindReplyKey(reply, L::kSystemReplyMarker)) return p;
  try {
    if (const auto g = L::FindGroup(reply, L::kLineSetting)) {
      p.baudPosition = Position(*g, 0);
      p.parityPosition = Position(*g, 1);
    }
    if (const auto g = L::FindGroup(reply, L::kWorkingMode)) p.workingMode = Position(*g, 0);
    if (const auto g = L::FindGroup(reply, L::kSlaveAddress)) p.slaveAddress = std::string(g->Text(0));
    if (const auto g = L::FindGroup(reply, L::kReturnTime)) p.returnTime = Position(*g, 0);
    if (const auto g = L::FindGroup(reply, L::kHartInterval)) p.hartInterval = std::string(g->Text(0));
    if (const auto g = L::FindGroup(reply, L::kTotalizerGroup)) {
      p.rangeUpper = std::string(g->Text(0));
      p.rangeLower = std::string(g->Text(1));
      p.totalizerStart = std::string(g->Text(2));
    }
    if (const auto g = L::FindGroup(reply, L::kCutoffGroup)) p.cutoff = std::string(g->Text(0));
    if (const auto g = L::FindGroup(reply, L::kCoefficientFactorGroup)) p.coefficient = std::string(g->Text(0));
  } catch (const StopReading &stop) {
    p.error = stop.message;
  }
  return p;
}
