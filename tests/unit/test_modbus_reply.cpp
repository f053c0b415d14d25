#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "protocol/ieee754_text.h"
#include "protocol/int_text.h"
#include "protocol/modbus_reply.h"

namespace {

using M = ModbusReplyField;

// Records what the parse sets; the meter type behaves like its sixteen-entry list.
struct Recorder : ModbusReplySink {
  std::map<M, std::string> values;  // positions as numbers, texts in quotes
  std::optional<bool> shown;
  int meterType = 0;

  void SetPosition(M field, int position) override {
    values[field] = std::to_string(position);
    if (field == M::MeterType) meterType = position >= 0 && position < 16 ? position : -1;
  }
  void SetText(M field, std::string_view text) override { values[field] = '"' + std::string(text) + '"'; }
  int SelectedMeterType() const override { return meterType; }
  void ShowCustomParsing(bool s) override { shown = s; }
};

Recorder Parse(const std::string &reply, int meterType = 0) {
  Recorder r;
  r.meterType = meterType;
  ApplyModbusParameterReply(reply, r);
  return r;
}

const std::string kFmw = "FMW:2,0.001#";
const std::string kHart = "HART0:1,0,00,5,060#";
const std::string kDfot = "DFO0:01230#";
const std::string kZdy = "ZDY0:8,1100,2051,0000,0000#";
const std::string kCamd = "CAMD01:1<03,01 02 03#CAMD02:0<00,#";

TEST(ModbusParameterReply, EveryGroupInAnyOrder) {
  const Recorder r = Parse("QQ0#" + kFmw + kHart + kDfot + kZdy + "MD:2#" + kCamd);
  const std::map<M, std::string> expected = {
      {M::CoefficientMode, "2"}, {M::CoefficientFactor, "\"0.001\""},
      {M::Enabled, "1"},         {M::DeviceMode, "0"},
      {M::MeterType, "0"},       {M::Preamble, "1"},
      {M::ClearTime, "\"060\""}, {M::Format1, "0"},
      {M::Format3, "1"},         {M::Format5, "2"},
      {M::Format7, "3"},         {M::Format9, "0"},
      {M::AddressBits, "5"},     {M::Command1, "1"},
      {M::StartAddress1, "\"10\""}, {M::Length1, "0"},
      {M::Command3, "2"},        {M::StartAddress3, "\"05\""},
      {M::Length3, "1"},         {M::Command5, "0"},
      {M::StartAddress5, "\"00\""}, {M::Length5, "0"},
      {M::Command7, "0"},        {M::StartAddress7, "\"00\""},
      {M::Length7, "0"},         {M::OperationMode, "2"},
      {M::Command1Switch, "1"},  {M::Command1Bytes, "\"01 02 03\""},
      {M::Command2Switch, "0"},  {M::Command2Bytes, "\"\""},
  };
  EXPECT_EQ(r.values, expected);
  EXPECT_EQ(r.shown, true);
  EXPECT_EQ(Parse(kCamd + "MD:2#" + kZdy + kDfot + kHart + kFmw + "QQ").values, expected);

  // Any character where the device digit stands; the first occurrence wins.
  const Recorder other = Parse("QQ HART7:0,1,00,9,120 DFOx:11111 HART0:1,0,00,5,060 CAMD91:0<01,FF");
  EXPECT_EQ(other.values.at(M::Enabled), "0");
  EXPECT_EQ(other.values.at(M::Preamble), "5");
  EXPECT_EQ(other.values.at(M::Format9), "1");
  EXPECT_EQ(other.values.at(M::Command1Bytes), "\"FF\"");
  EXPECT_EQ(other.values.count(M::Command2Switch), 0u);
}

TEST(ModbusParameterReply, MeterTypeDecidesOnTheCustomGroups) {
  // Without "QQ" nothing at all happens.
  const Recorder none = Parse("Q" + kFmw + kHart + "Q");
  EXPECT_TRUE(none.values.empty());
  EXPECT_FALSE(none.shown.has_value());

  const Recorder typed = Parse("QQ HART0:1,1,03,4,010 " + kZdy + "MD:1" + kCamd);
  EXPECT_EQ(typed.values.at(M::MeterType), "3");
  EXPECT_EQ(typed.shown, false);
  for (M f : {M::AddressBits, M::OperationMode, M::Command1Switch, M::Command2Bytes}) EXPECT_EQ(typed.values.count(f), 0u);

  // Without a profile group the type already selected decides; no selection counts as "not 0".
  EXPECT_EQ(Parse("QQ" + kFmw, 0).shown, true);
  EXPECT_EQ(Parse("QQ" + kFmw, 14).shown, false);
  EXPECT_EQ(Parse("QQ MD:1", -1).values.count(M::OperationMode), 0u);
  EXPECT_EQ(Parse("QQ HART0:1,0,16,4,060 MD:1").shown, false);

  // Digits below a list's first item give positions outside the list.
  const Recorder low = Parse("QQ HART0:1,0,00,3,060 ZDY0:2,1104,2000,0000,0000");
  EXPECT_EQ(low.values.at(M::Preamble), "-1");
  EXPECT_EQ(low.values.at(M::AddressBits), "-1");
  EXPECT_EQ(low.values.at(M::Length1), "4");
}

TEST(ModbusParameterReply, GroupsCutShortByTheEndAreSkipped) {
  for (const char *cut : {"QQ FMW:1,0.00", "QQ HART0:1,0,00,5,06", "QQ DFO0:0123", "QQ MD:",
                         "QQ ZDY0:8,1100,2051,0000,000", "QQ CAMD01:1<03,01 02 0", "QQ CAMD01:1<0"}) {
    const Recorder r = Parse(cut);
    EXPECT_TRUE(r.values.empty()) << cut;
  }
  // A count of zero needs nothing after its digits.
  const Recorder empty = Parse("QQ CAMD01:1<00");
  EXPECT_EQ(empty.values.at(M::Command1Switch), "1");
  EXPECT_EQ(empty.values.at(M::Command1Bytes), "\"\"");
  // Fourteen bytes end exactly at the reply's end.
  const std::string fourteen = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E";
  EXPECT_EQ(Parse("QQ CAMD02:1<14," + fourteen).values.at(M::Command2Bytes), '"' + fourteen + '"');
}

TEST(ModbusParameterReply, ANonDigitStopsTheParseAfterWhatWasSet) {
  struct Case {
    std::string reply;
    std::string message;
    std::map<M, std::string> setBefore;
  } cases[] = {
      {"QQ FMW:1,0.250 HART0:1,x,00,5,060 " + kDfot, "'x' is not a valid integer value",
       {{M::CoefficientMode, "1"}, {M::CoefficientFactor, "\"0.250\""}, {M::Enabled, "1"}}},
      {"QQ HART0:1,0, 3,5,060", "' 3' is not a valid integer value", {{M::Enabled, "1"}, {M::DeviceMode, "0"}}},
      {"QQ FMW:-,0.250", "'-' is not a valid integer value", {}},
      {"QQ CAMD01:1<0x,01", "'x' is not a valid integer value", {{M::Command1Switch, "1"}}},
      {"QQ MD:1 CAMD02:x<03,01 02 03", "'x' is not a valid integer value", {{M::OperationMode, "1"}}},
  };
  for (const Case &c : cases) {
    Recorder r;
    try {
      ApplyModbusParameterReply(c.reply, r);
      ADD_FAILURE() << "no error for " << c.reply;
    } catch (const EConvertError &e) {
      EXPECT_EQ(e.what(), c.message) << c.reply;
    }
    EXPECT_EQ(r.values, c.setBefore) << c.reply;
  }
}

TEST(Ieee754Text, PairsSeparatorsAndBytes) {
  auto bytes = [](const char *text) {
    const Ieee754Text t = ParseIeee754Text(text);
    EXPECT_EQ(t.error, Ieee754TextError::None) << text;
    return t.bytes;
  };
  using B = std::array<uint8_t, 4>;
  EXPECT_EQ(bytes("3F 80 00 00"), (B{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(bytes("FF FF FF"), (B{0xFF, 0xFF, 0xFF, 0x00}));
  EXPECT_EQ(bytes("3F"), (B{0x3F, 0, 0, 0}));
  EXPECT_EQ(bytes("3F 80 00 00 12 34"), (B{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(ParseIeee754Text("40 49 0F DB").value, 3.14159274101257f);

  for (const char *text : {"FFFFFFFF", "F 80 00 00", "3F 80-00 00", "3F 80 00 00 1234"})
    EXPECT_EQ(ParseIeee754Text(text).error, Ieee754TextError::NoSeparator) << text;
  for (const char *text : {"", "3", "3f 80 00 00", "3F 8- 00 00", "3F 80 00 00 ", "3F 80 00 00 1G", "3F 80 00 0 "})
    EXPECT_EQ(ParseIeee754Text(text).error, Ieee754TextError::BadCharacter) << text;
}

}  // namespace
