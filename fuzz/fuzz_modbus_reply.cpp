// The answer to the MODBUS parameter query as it arrives from the line: any bytes, of which the
// parser sees at most 255 (ReplyText). The custom meter is taken as selected, so that every group
// is read unless the reply itself names another meter type.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/fuzz_util.h"
#include "protocol/config_frame.h"
#include "protocol/int_text.h"
#include "protocol/modbus_reply.h"
#include "protocol/module_layouts.h"

namespace {

namespace L = module_layout;
using F = ModbusReplyField;

class Recorder : public ModbusReplySink {
 public:
  void SetPosition(ModbusReplyField field, int position) override {
    positions[field] = position;
    if (field == F::MeterType) meterType = position;
  }
  void SetText(ModbusReplyField field, std::string_view text) override { texts[field] = std::string(text); }
  int SelectedMeterType() const override { return meterType; }
  void ShowCustomParsing(bool) override {}

  std::map<ModbusReplyField, int> positions;
  std::map<ModbusReplyField, std::string> texts;
  int meterType = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char *>(data), std::min<size_t>(size, kReplyTextMax));
  Recorder r;
  try {
    ApplyModbusParameterReply(reply, r);
  } catch (const EConvertError &) {
    // a field that is no digit stops the reading; what came before stays
  }
  for (const auto &[field, position] : r.positions) {
    const int low = field == F::Preamble ? -4 : field == F::AddressBits ? -3 : 0;
    const int high = field == F::MeterType ? 99 : 9;
    if (position < low || position > high) fuzz::Fail("position " + std::to_string(position) + " out of its digits");
  }
  const size_t start = L::kParsingFormatGroup.Value(3).width;
  const std::pair<F, size_t> fixed[] = {{F::CoefficientFactor, L::kCoefficient.Value(1).width},
                                        {F::ClearTime, L::kMeterProfile.Value(5).width},
                                        {F::StartAddress1, start}, {F::StartAddress3, start},
                                        {F::StartAddress5, start}, {F::StartAddress7, start}};
  for (const auto &[field, length] : fixed)
    if (r.texts.count(field) && r.texts[field].size() != length) fuzz::Fail("a fixed-width text of another width");
  // The custom command bytes come from one group of at most 99 pairs.
  for (F field : {F::Command1Bytes, F::Command2Bytes})
    if (r.texts.count(field) && r.texts[field].size() > L::HexPairsLength(99)) fuzz::Fail("custom command text too long");
  return 0;
}
