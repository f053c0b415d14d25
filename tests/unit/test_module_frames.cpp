// The module's configuration frames: what each field can carry, and what does not fit.
#include "protocol/module_frames.h"

#include <gtest/gtest.h>

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
