// The module's configuration frames: what each field can carry, what does not fit, and that the
// parsers and the decoder read them as they are built.
#include "protocol/module_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "protocol/line_decoder.h"
#include "protocol/modbus_reply.h"
#include "protocol/system_reply.h"

namespace {

TEST(ModuleFrames, FieldsReportWhatTheyCannotCarryInFrameOrder) {
  EXPECT_EQ(SlaveAddressFrame(247).bytes, "QQS#ADR:247#");
  EXPECT_EQ(LineSettingFrame(3, 0).bytes, "QQS#BA2:30#");
  EXPECT_EQ(MeterProfileFrame(0, 1, 0, 10, 5, 5).bytes, "QQS#HART0:1,0,10,9,005#");
  EXPECT_EQ(ParsingFormatFrame(0, 5, {{{1, 10, 0}, {2, 5, 1}, {0, 0, 0}, {0, 0, 0}}}).bytes,
            "QQS#MDBS0:8,1100,2051,0000,0000#");
  EXPECT_EQ(CustomCommandFrame(0, '2', 0, {0x00}).bytes, std::string("QQS#CAMD02:0<01,\0", 17));
  EXPECT_EQ(IntegerLsdFrame(-1), "KORVEN#LPN:4294967295#");
  EXPECT_EQ(BoardDataFrame(1234, 101), "KORVEN#PCBSN:00001234,101#");

  // Positions: digits 0 to 9, or from the first item's digit on ("4" for the preamble).
  const ModuleFrame profile = MeterProfileFrame(10, -1, 0, 100, 6, -5);
  ASSERT_EQ(profile.problems.size(), 5u);
  const size_t fields[] = {0, 1, 3, 4, 5};
  const int32_t highs[] = {9, 9, 99, 5, 999};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(profile.problems[i].field, fields[i]);
    EXPECT_EQ(profile.problems[i].high, highs[i]);
  }
  EXPECT_EQ(profile.bytes.size(), 23u) << "zeros stand for what does not fit";
  const ModuleFrame bits = ParsingFormatFrame(0, 7, {{{0, 100, 0}, {0, 0, 0}, {10, 0, 0}, {0, 0, 0}}});
  ASSERT_EQ(bits.problems.size(), 3u);
  EXPECT_EQ(bits.problems[0].field, 1u);  // address bits: "3" to "9" is positions 0 to 6
  EXPECT_EQ(bits.problems[1].field, 3u);  // variable 1's start address
  EXPECT_EQ(bits.problems[2].field, 8u);  // variable 3's command
}

}  // namespace

namespace {

// A setting's text without "QQS#" and "#": what the module writes back into its query replies.
std::string Group(const ModuleFrame &frame) { return frame.bytes.substr(4, frame.bytes.size() - 5); }

std::string Decoded(const std::string &frame) {
  return DecodeLineText(reinterpret_cast<const uint8_t *>(frame.data()), frame.size(), LineDirection::Sent);
}

struct Sink : ModbusReplySink {
  std::map<ModbusReplyField, std::string> values;
  void SetPosition(ModbusReplyField field, int position) override { values[field] = std::to_string(position); }
  void SetText(ModbusReplyField field, std::string_view text) override { values[field] = std::string(text); }
  int SelectedMeterType() const override { return 0; }
  void ShowCustomParsing(bool) override {}
};

// The builders, the reply parsers and the decoder read one table: a setting read back through its
// reply group gives the values it was built from, and the decoder names every frame.
TEST(ModuleFrames, SettingsReadBackThroughTheirReplyGroupsAndAreNamedByTheDecoder) {
  const std::string system = "QX#" + Group(LineSettingFrame(4, 2)) + "#" + Group(WorkingModeFrame(1)) + "#" +
                             Group(SlaveAddressFrame(5)) + "#" + Group(ReturnTimeFrame(3)) + "#" +
                             Group(HartIntervalFrame(20)) + "#AIN:020.00,004.00,00000#ZOM:0.500#ADX:9876#";
  const SystemParameters p = ReadSystemParameters(system);
  EXPECT_EQ(p.baudPosition, 4);
  EXPECT_EQ(p.parityPosition, 2);
  EXPECT_EQ(p.workingMode, 1);
  EXPECT_EQ(p.slaveAddress, "005");
  EXPECT_EQ(p.returnTime, 3);
  EXPECT_EQ(p.hartInterval, "020");
  EXPECT_EQ(p.rangeUpper, "020.00");
  EXPECT_EQ(p.rangeLower, "004.00");
  EXPECT_EQ(p.totalizerStart, "00000");
  EXPECT_EQ(p.cutoff, "0.500");
  EXPECT_EQ(p.coefficient, "9876");
  EXPECT_FALSE(p.error);

  using F = ModbusReplyField;
  Sink sink;
  ApplyModbusParameterReply("QQ3#" + Group(MeterProfileFrame(3, 1, 1, 12, 2, 45)) + "#" +
                                Group(CoefficientFrame(2, "0.001")) + "#" + Group(WorkingModeFrame(2)),
                            sink);
  const std::map<F, std::string> expected = {{F::Enabled, "1"},         {F::DeviceMode, "1"},
                                             {F::MeterType, "12"},      {F::Preamble, "2"},
                                             {F::ClearTime, "045"},     {F::CoefficientMode, "2"},
                                             {F::CoefficientFactor, "0.001"}, {F::OperationMode, "2"}};
  EXPECT_EQ(sink.values, expected);

  const std::vector<std::string> frames = {
      CommunicationQueryFrame(), SystemParameterQueryFrame(), AdChannelQueryFrame(), ParameterResetFrame(),
      MeterQueryFrame(2).bytes, SlaveAddressFrame(5).bytes, WorkingModeFrame(1).bytes, ReturnTimeFrame(3).bytes,
      HartIntervalFrame(20).bytes, LineSettingFrame(4, 2).bytes, MeterProfileFrame(3, 1, 1, 12, 2, 45).bytes,
      DataFormatFrame(1, {0, 1, 2, 3, 0}).bytes, CoefficientFrame(2, "0.001").bytes,
      CustomCommandFrame(0, '1', 1, {0x01, 0x23}).bytes,
      ParsingFormatFrame(0, 5, {{{1, 10, 0}, {2, 5, 1}, {0, 0, 0}, {0, 0, 0}}}).bytes,
      TotalizerFrame("20", "4", "0"), CutoffFrame("0.5"), IntegerLsdFrame(123), DecimalLsdFrame("5"),
      CoefficientFactorFrame(42), BoardDataFrame(1234, 101)};
  for (const std::string &frame : frames) {
    const std::string text = Decoded(frame);
    for (const char *unnamed : {": setting", ": query", ": factory command", ": text"})
      EXPECT_NE(text.substr(text.size() - std::min(text.size(), std::string(unnamed).size())), unnamed) << text;
  }
  EXPECT_EQ(Decoded(MeterProfileFrame(3, 1, 1, 12, 2, 45).bytes),
            "QQS#HART3:1,1,12,6,045#: set meter 3 profile: enabled, master, type 12, 6 preambles, buffer clear time 45 s");
  EXPECT_EQ(Decoded(CustomCommandFrame(0, '2', 0, {0x23, 0x00, 0x41}).bytes),
            "QQS#CAMD...: set meter 0 custom command 2: off, 3 bytes");
}

}  // namespace
