// The HART commands' request data and reply parsers, and packed ASCII.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "protocol/hart_commands.h"
#include "protocol/packed_ascii.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Packs four 6-bit values by hand, the oracle for PackAscii.
Bytes Pack4(int a, int b, int c, int d) {
  const uint32_t v = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
  return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

IdentityReply Instrument(uint8_t revision, uint8_t preambles = 5) {
  IdentityReply id;
  id.identity = {0xE6, 0x06, {0x00, 0x12, 0x34}};
  id.preambleNeed = preambles;
  id.universalRevision = revision;
  return id;
}

}  // namespace

TEST(PackedAscii, PacksSixBitsPerCharacterAndBack) {
  // '@'..'_' are 0x00-0x1F, space..'?' stand for themselves.
  EXPECT_EQ(PackAscii("AB?@", 4).bytes, Pack4(0x01, 0x02, 0x3F, 0x00));
  const PackedAscii tag = PackAscii("FT-1", 8);
  Bytes expected = Pack4(0x06, 0x14, 0x2D, 0x31);
  const Bytes spaces = Pack4(0x20, 0x20, 0x20, 0x20);
  expected.insert(expected.end(), spaces.begin(), spaces.end());
  EXPECT_EQ(tag.bytes, expected) << "padded with spaces to the width";
  EXPECT_FALSE(tag.turnedToUpperCase);

  std::string alphabet;
  for (char c = ' '; c <= '_'; ++c) alphabet += c;
  const PackedAscii all = PackAscii(alphabet, 64);
  ASSERT_TRUE(all.problem.empty());
  ASSERT_EQ(all.bytes.size(), 48u);
  EXPECT_EQ(UnpackAscii(all.bytes.data(), all.bytes.size()), alphabet);
  EXPECT_EQ(UnpackAsciiTrimmed(tag.bytes.data(), tag.bytes.size()), "FT-1");
  EXPECT_EQ(UnpackAscii(all.bytes.data(), 5), alphabet.substr(0, 4)) << "an incomplete group is dropped";
}

TEST(PackedAscii, LowerCaseIsTurnedAndWhatCannotBePackedIsNamed) {
  const PackedAscii lower = PackAscii("ft-101a", 8);
  EXPECT_TRUE(lower.turnedToUpperCase);
  EXPECT_EQ(UnpackAsciiTrimmed(lower.bytes.data(), lower.bytes.size()), "FT-101A");

  // Positions count characters, not bytes: "é" is two bytes of UTF-8.
  const auto accent = FindUnpackable("Ré`x");
  ASSERT_TRUE(accent);
  EXPECT_EQ(accent->position, 1u);
  EXPECT_EQ(accent->character, "é");
  EXPECT_EQ(FindUnpackable("ab`")->position, 2u) << "'`' is next to the lower case but not theirs";
  for (const char *bad : {"{", "~", "\x7F", "\t", "\xE2\x82\xAC"}) EXPECT_TRUE(FindUnpackable(bad)) << bad;
  EXPECT_FALSE(FindUnpackable("ANY @[\\]^_ 0-9?"));

  const PackedAscii refused = PackAscii("TAG\x01", 8);
  EXPECT_TRUE(refused.bytes.empty());
  EXPECT_NE(refused.problem.find("character 4 (control character 0x01)"), std::string::npos) << refused.problem;
  EXPECT_EQ(PackAscii("NINE CHAR", 8).problem, "9 characters, 8 at most");
}

TEST(HartDate, CalendarDaysOnlyAndTheWireForm) {
  EXPECT_EQ(ParseIsoDate("2024-02-29"), (HartDate{2024, 2, 29}));
  std::string why;
  EXPECT_FALSE(ParseIsoDate("2023-02-29", &why));
  EXPECT_NE(why.find("day 29 outside 1 to 28"), std::string::npos) << why;
  EXPECT_FALSE(ParseIsoDate("1900-02-29")) << "1900 was no leap year";
  EXPECT_TRUE(ParseIsoDate("2000-02-29"));
  EXPECT_TRUE(ParseIsoDate("2155-12-31"));
  for (const char *bad : {"2156-01-01", "1899-12-31", "2024-13-01", "2024-00-10", "2024-1-01", "2024/01/01",
                          "20240101", "2024-01-0x", ""})
    EXPECT_FALSE(ParseIsoDate(bad)) << bad;
  EXPECT_EQ(IsoDateText({1999, 7, 4}), "1999-07-04");

  const HartRequestData data = TagDescriptorDateRequest({"TAG", "DESC", {2024, 2, 29}});
  ASSERT_EQ(data.data.size(), 21u);
  EXPECT_EQ(Bytes(data.data.end() - 3, data.data.end()), (Bytes{29, 2, 124})) << "day, month, year - 1900";
  EXPECT_EQ(TagDescriptorDateRequest({"TAG", "DESC", {2024, 2, 30}}).problem, "date: day 30 outside 1 to 29");
  const auto read = ParseTagDescriptorDate(data.data);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->tag, "TAG");
  EXPECT_EQ(read->descriptor, "DESC");
  EXPECT_EQ(read->date, (HartDate{2024, 2, 29}));
}

TEST(HartCommandRequest, AddressedAsCommandZeroSaidAndRefusedBelowItsRevision) {
  const HartRequest request = BuildHartRequest(Instrument(5), hart::kWriteFinalAssemblyNumber, {0x01, 0x02, 0x03});
  ASSERT_TRUE(request.problem.empty()) << request.problem;
  // The manufacturer's top bits do not reach the address: only the master's bit is there.
  const Bytes expected = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 19, 3, 1, 2, 3};
  ASSERT_EQ(request.frame.size(), expected.size() + 1);
  EXPECT_EQ(Bytes(request.frame.begin(), request.frame.end() - 1), expected);
  EXPECT_EQ(request.frame.back(), HartChecksum(request.frame.data() + 5, request.frame.size() - 6));

  EXPECT_EQ(BuildHartRequest(Instrument(5, 12), hart::kReadMessage).frame.size(), 12u + 8 + 1);
  EXPECT_EQ(BuildHartRequest(Instrument(5, 0), hart::kReadMessage).frame.size(), 5u + 8 + 1) << "at least five";
  EXPECT_EQ(BuildHartRequest(Instrument(5, 200), hart::kReadMessage).frame.size(), 20u + 8 + 1) << "at most 20";

  for (uint8_t command : {hart::kReadLongTag, hart::kWriteLongTag, hart::kReadDeviceVariablesWithStatus}) {
    const HartRequest refused = BuildHartRequest(Instrument(5), command, Bytes(32, 0x41));
    EXPECT_TRUE(refused.frame.empty()) << int{command};
    EXPECT_NE(refused.problem.find("needs universal revision 6 or later; the instrument has revision 5"),
              std::string::npos)
        << refused.problem;
    EXPECT_TRUE(BuildHartRequest(Instrument(6), command, Bytes(32, 0x41)).problem.empty()) << int{command};
  }
  EXPECT_FALSE(BuildHartRequest(Instrument(7), hart::kWriteRangeValues, Bytes(8)).problem.empty()) << "too few";
  EXPECT_FALSE(BuildHartRequest(Instrument(7), hart::kReadMessage, Bytes(256)).problem.empty()) << "too many";
}

TEST(HartCommandReply, EveryParserRefusesTooFewBytesAndTakesEnough) {
  struct Case {
    size_t due;
    std::function<bool(const Bytes &, std::string *)> parse;
    bool takesAnExtraByte = true;  // command 9 reads whole slots: a stray byte is no slot
  };
  const Case cases[] = {
      {5, [](const Bytes &d, std::string *p) { return bool(ParsePrimaryVariable(d, p)); }},
      {8, [](const Bytes &d, std::string *p) { return bool(ParseLoopCurrent(d, p)); }},
      {1, [](const Bytes &d, std::string *p) { return bool(ParsePollingAddress(d, p)); }},
      {9, [](const Bytes &d, std::string *p) { return bool(ParseDeviceVariables(d, p)); }, false},
      {24, [](const Bytes &d, std::string *p) { return bool(ParseMessage(d, p)); }},
      {21, [](const Bytes &d, std::string *p) { return bool(ParseTagDescriptorDate(d, p)); }},
      {16, [](const Bytes &d, std::string *p) { return bool(ParseTransducerInformation(d, p)); }},
      {17, [](const Bytes &d, std::string *p) { return bool(ParseDeviceInformation(d, p)); }},
      {3, [](const Bytes &d, std::string *p) { return bool(ParseFinalAssemblyNumber(d, p)); }},
      {32, [](const Bytes &d, std::string *p) { return bool(ParseLongTag(d, p)); }},
      {4, [](const Bytes &d, std::string *p) { return bool(ParseDamping(d, p)); }},
      {9, [](const Bytes &d, std::string *p) { return bool(ParseRangeValues(d, p)); }},
      {4, [](const Bytes &d, std::string *p) { return bool(ParseFixedCurrent(d, p)); }},
      {1, [](const Bytes &d, std::string *p) { return bool(ParsePrimaryVariableUnits(d, p)); }},
      {6, [](const Bytes &d, std::string *p) { return bool(ParseAdditionalDeviceStatus(d, p)); }},
      {1, [](const Bytes &d, std::string *p) { return bool(ParseResponsePreambles(d, p)); }},
  };
  for (const Case &c : cases) {
    std::string problem;
    EXPECT_FALSE(c.parse(Bytes(c.due - 1, 0x20), &problem)) << c.due;
    EXPECT_NE(problem.find(std::to_string(c.due) + " are due"), std::string::npos) << problem;
    problem.clear();
    EXPECT_TRUE(c.parse(Bytes(c.due, 0x20), &problem)) << c.due << ": " << problem;
    EXPECT_EQ(c.parse(Bytes(c.due + 1, 0x20), nullptr), c.takesAnExtraByte) << "a later revision's extra byte, " << c.due;
  }
  EXPECT_TRUE(ParseConfigurationReset({})) << "revision 5 echoes nothing";
  EXPECT_EQ(ParseConfigurationReset(Bytes{0x01, 0x02})->counter, 0x0102);
}

TEST(HartCommandReply, FieldsAtTheirPlacesAndFloatsMostSignificantFirst) {
  const auto loop = ParseLoopCurrent(Bytes{0x41, 0x40, 0x00, 0x00, 0x42, 0x48, 0x00, 0x00});
  EXPECT_EQ(loop->milliamperes, 12.0f);
  EXPECT_EQ(loop->percentOfRange, 50.0f);

  const Bytes info15 = {0, 0, 19, 0x42, 0xF0, 0, 0, 0xC0, 0xA0, 0, 0, 0x3F, 0x80, 0, 0, 1, 0x26, 0x05};
  const auto device = ParseDeviceInformation(info15);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->rangeUnit, 19);
  EXPECT_EQ(device->upperRange, 120.0f);
  EXPECT_EQ(device->lowerRange, -5.0f);
  EXPECT_EQ(device->damping, 1.0f);
  EXPECT_EQ(device->writeProtect, hart::kWriteProtected);
  EXPECT_EQ(device->analogChannelFlags, 0x05);
  EXPECT_FALSE(ParseDeviceInformation(Bytes(info15.begin(), info15.end() - 1))->analogChannelFlags);

  EXPECT_EQ(ParseFinalAssemblyNumber(Bytes{0xAB, 0xCD, 0xEF}), 0xABCDEFu);
  const auto transducer = ParseTransducerInformation(
      Bytes{0x00, 0x04, 0x57, 19, 0x43, 0x48, 0, 0, 0, 0, 0, 0, 0x3F, 0x80, 0, 0});
  EXPECT_EQ(transducer->serialNumber, 1111u);
  EXPECT_EQ(transducer->upperLimit, 200.0f);
  EXPECT_EQ(transducer->minimumSpan, 1.0f);

  // Command 9: whole slots after the status byte, then perhaps a time stamp.
  Bytes nine = {0x00, 246, 66, 19, 0x42, 0x70, 0, 0, 0xC0, 245, 0, 39, 0x41, 0x40, 0, 0, 0x80};
  auto variables = ParseDeviceVariables(nine);
  ASSERT_TRUE(variables);
  ASSERT_EQ(variables->variables.size(), 2u);
  EXPECT_EQ(variables->variables[0].value, 60.0f);
  EXPECT_EQ(variables->variables[1].status, hart::kVariableFixed);
  EXPECT_FALSE(variables->timeStamp);
  nine.insert(nine.end(), {0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(ParseDeviceVariables(nine)->timeStamp, 0x01020304u);
  nine.push_back(0);
  std::string problem;
  EXPECT_FALSE(ParseDeviceVariables(nine, &problem));
  EXPECT_FALSE(problem.empty());
}

TEST(HartCommandRequest, ValuesAreCheckedBeforeAnyByteIsMade) {
  EXPECT_EQ(RangeValuesRequest(19, 120, -5).data,
            (Bytes{19, 0x42, 0xF0, 0, 0, 0xC0, 0xA0, 0, 0})) << "unit, upper, lower";
  EXPECT_FALSE(RangeValuesRequest(19, std::nan(""), 0).problem.empty());
  EXPECT_FALSE(RangeValuesRequest(19, 0, 1e39).problem.empty()) << "beyond a float";
  EXPECT_FALSE(DampingRequest(-0.5).problem.empty());
  EXPECT_FALSE(DampingRequest(std::numeric_limits<double>::infinity()).problem.empty());
  EXPECT_EQ(DampingRequest(2.5).data, (Bytes{0x40, 0x20, 0, 0}));
  EXPECT_EQ(FixedCurrentRequest(hart::kLeaveFixedCurrent).data, (Bytes{0, 0, 0, 0}));
  EXPECT_FALSE(FixedCurrentRequest(-4).problem.empty());
  EXPECT_EQ(FinalAssemblyNumberRequest(0xFFFFFF).data, (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(FinalAssemblyNumberRequest(0x1000000).problem.empty());
  EXPECT_FALSE(FinalAssemblyNumberRequest(-1).problem.empty());
  EXPECT_FALSE(ResponsePreamblesRequest(4).problem.empty());
  EXPECT_FALSE(ResponsePreamblesRequest(21).problem.empty());
  EXPECT_EQ(ResponsePreamblesRequest(20).data, Bytes{20});
  EXPECT_FALSE(PollingAddressRequest(64).problem.empty());
  EXPECT_FALSE(DeviceVariablesRequest(Bytes(5, 0), 6).problem.empty()) << "four slots at revision 6";
  EXPECT_TRUE(DeviceVariablesRequest(Bytes(8, 0), 7).problem.empty());
  EXPECT_FALSE(DeviceVariablesRequest({}, 7).problem.empty());

  const HartRequestData both = TagDescriptorDateRequest({"ft-101", "flow", {2024, 1, 1}});
  EXPECT_EQ(both.upperCased, (std::vector<std::string>{"tag", "descriptor"}));
  EXPECT_EQ(TagDescriptorDateRequest({"TAG", "DESCRIPTOR LONGER", {2024, 1, 1}}).problem,
            "descriptor: 17 characters, 16 at most");
  EXPECT_NE(MessageRequest("Straße").problem.find("message: character 5"), std::string::npos);
}

TEST(HartCommandRequest, LongTagIsLatin1BothWays) {
  const HartRequestData request = LongTagRequest("Pumpe Süd ½");
  ASSERT_TRUE(request.problem.empty()) << request.problem;
  ASSERT_EQ(request.data.size(), 32u);
  EXPECT_EQ(request.data[7], 0xFC);
  EXPECT_EQ(request.data[10], 0xBD);
  EXPECT_EQ(request.data[11], 0x00) << "padded with zero bytes";
  EXPECT_EQ(ParseLongTag(request.data), "Pumpe Süd ½");

  EXPECT_NE(LongTagRequest("Ab€").problem.find("character 3"), std::string::npos);
  EXPECT_FALSE(LongTagRequest("tab\there").problem.empty());
  EXPECT_FALSE(LongTagRequest("\xC3").problem.empty()) << "a cut UTF-8 sequence";
  EXPECT_FALSE(LongTagRequest(std::string(33, 'x')).problem.empty());
  EXPECT_TRUE(LongTagRequest(std::string(32, 'x')).problem.empty());

  // What an instrument sends is shown without its control characters.
  Bytes fromLine(32, ' ');
  fromLine[0] = 'A';
  fromLine[1] = 0x1B;
  fromLine[2] = 0x9B;
  EXPECT_EQ(ParseLongTag(fromLine), "A??");
}

TEST(HartCommandReply, UnitsByNameOrCodeAndCodesByCommand) {
  EXPECT_EQ(ParseUnit("CuMtr_hr"), 19);
  EXPECT_EQ(ParseUnit("cumtr_HR"), 19);
  EXPECT_EQ(ParseUnit("bar"), 7);
  EXPECT_EQ(ParseUnit("250"), 250);
  EXPECT_FALSE(ParseUnit("256"));
  EXPECT_FALSE(ParseUnit("0019x"));
  EXPECT_FALSE(ParseUnit("other"));
  EXPECT_FALSE(ParseUnit(""));

  EXPECT_EQ(hart::ResponseCodeText(11, hart::kWriteRangeValues), "11 upper range value too high");
  EXPECT_EQ(hart::ResponseCodeText(11, hart::kEnterExitFixedCurrent), "11 in multidrop mode");
  EXPECT_EQ(hart::ResponseCodeText(7, hart::kWriteRangeValues), "7 in write-protect mode");
  EXPECT_EQ(hart::ResponseCodeText(11, hart::kReadMessage), "11 command-specific error");
}
