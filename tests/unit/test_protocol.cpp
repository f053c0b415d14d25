#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "protocol/config_frame.h"
#include "protocol/hex.h"
#include "protocol/int_text.h"

namespace {

std::string Str(const std::optional<std::array<uint8_t, 2>> &d) { return d ? std::string(d->begin(), d->end()) : "none"; }
std::string Str(const std::optional<std::array<uint8_t, 3>> &d) { return d ? std::string(d->begin(), d->end()) : "none"; }

TEST(ByteToHex, RendersBytesAndMarksValuesAboveAByte) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(10), "0A");
  EXPECT_EQ(ByteToHex(171), "AB");
  EXPECT_EQ(ByteToHex(255), "FF");
  EXPECT_EQ(ByteToHex(256), ".");
  const uint8_t bytes[] = {0x01, 0x02, 0xFF};
  EXPECT_EQ(BytesToHexPairs(bytes, 3), "01 02 FF ");
  EXPECT_EQ(BytesToHexPairs(bytes, 0), "");
}

TEST(TypedHex, TakesEveryCharacterOrNothingAndSaysWhichIsWrong) {
  EXPECT_EQ(ParseTypedHex("0280", 300).bytes, (std::vector<uint8_t>{0x02, 0x80}));
  EXPECT_EQ(ParseTypedHex(" 02 8a\t0000 ", 300).bytes, (std::vector<uint8_t>{0x02, 0x8A, 0x00, 0x00}));
  EXPECT_EQ(ParseTypedHex("02 80 0", 300).error, "\"0\" at character 7 has an odd number of digits");
  EXPECT_EQ(ParseTypedHex("02 8g", 300).error, "character 5 (\"g\") is not a hexadecimal digit");
  EXPECT_EQ(ParseTypedHex("0102", 1).error, "more than 1 bytes");
  EXPECT_EQ(ParseTypedHex("  ", 9).error, "no bytes");
  EXPECT_TRUE(ParseTypedHex("02 8g", 300).bytes.empty());
}

TEST(TextToInt, AcceptsDecimalAndHexadecimalForms) {
  struct Case {
    const char *text;
    int32_t value;
  } cases[] = {
      {"0", 0},          {"1", 1},           {"001", 1},         {"247", 247},        {"  42", 42},
      {"+7", 7},         {"-7", -7},         {"$11", 17},        {"x11", 17},         {"X1f", 31},
      {"0x11", 17},      {"0XfF", 255},      {"-$10", -16},      {" -0x10", -16},     {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},              {"$7FFFFFFF", INT_MAX}, {"-$80000000", INT_MIN}, {"0000000000012", 12},
  };
  for (const auto &c : cases) {
    auto v = TryTextToInt(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_EQ(*v, c.value) << c.text;
  }
}

TEST(TextToInt, RefusesEverythingElseWithTheConversionMessage) {
  const char *refused[] = {"",    " ",     "-",   "+",   "$",    "0x",  "x",          "12 ",        "1 2",  "abc",
                           "1.5", "12a",   "--1", "+-1", "$-1",  "0x-1", "2147483648", "-2147483649", "\t1", "1e3",
                           "$100000000", "９", "0b1"};
  for (const char *t : refused) EXPECT_FALSE(TryTextToInt(t).has_value()) << '"' << t << '"';

  try {
    TextToInt("abc");
    FAIL() << "no exception";
  } catch (const EConvertError &e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(TextToInt(""), EConvertError);
  EXPECT_EQ(NotAnIntegerMessage(""), "'' is not a valid integer value");
}

TEST(Encodings, DigitsAreMadeOnlyForValuesThatFit) {
  EXPECT_EQ(IndexDigit(0), uint8_t('0'));
  EXPECT_EQ(IndexDigit(3), uint8_t('3'));
  EXPECT_EQ(IndexDigit(9), uint8_t('9'));
  EXPECT_FALSE(IndexDigit(-1));
  EXPECT_FALSE(IndexDigit(10));

  EXPECT_EQ(OffsetDigit(0, '4'), uint8_t('4'));
  EXPECT_EQ(OffsetDigit(5, '4'), uint8_t('9'));
  EXPECT_FALSE(OffsetDigit(6, '4'));
  EXPECT_EQ(OffsetDigit(6, '3'), uint8_t('9'));
  EXPECT_FALSE(OffsetDigit(-1, '3'));
  EXPECT_FALSE(OffsetDigit(INT_MAX, '4'));
  EXPECT_FALSE(OffsetDigit(INT_MIN, '4'));

  EXPECT_EQ(Str(TwoDigitDecimal(7)), "07");
  EXPECT_EQ(Str(TwoDigitDecimal(0)), "00");
  EXPECT_EQ(Str(TwoDigitDecimal(99)), "99");
  EXPECT_EQ(Str(TwoDigitDecimal(100)), "none");
  EXPECT_EQ(Str(TwoDigitDecimal(-1)), "none");

  EXPECT_EQ(Str(ThreeDigitDecimal(1)), "001");
  EXPECT_EQ(Str(ThreeDigitDecimal(247)), "247");
  EXPECT_EQ(Str(ThreeDigitDecimal(999)), "999");
  EXPECT_EQ(Str(ThreeDigitDecimal(1000)), "none");
  EXPECT_EQ(Str(ThreeDigitDecimal(-1)), "none");
  EXPECT_EQ(Str(ThreeDigitDecimal(INT_MIN)), "none");
}

TEST(Encodings, PaddedDecimalIsAMinimumWidth) {
  EXPECT_EQ(PaddedDecimal(123, 8), "00000123");
  EXPECT_EQ(PaddedDecimal(0, 8), "00000000");
  EXPECT_EQ(PaddedDecimal(10000, 4), "10000");
  EXPECT_EQ(PaddedDecimal(101, 3), "101");
  EXPECT_EQ(PaddedDecimal(-5, 3), "-005");
  EXPECT_EQ(PaddedDecimal(INT_MIN, 8), "-2147483648");
}

TEST(FindReplyKey, FindsTheFirstPlaceAndNeverLooksPastTheReply) {
  EXPECT_EQ(FindReplyKey("xxADR:001 ADR:002", "ADR:"), 2u);
  EXPECT_EQ(FindReplyKey("QV:1", "QV:"), 0u);
  EXPECT_FALSE(FindReplyKey("QV1", "QV:"));
  EXPECT_FALSE(FindReplyKey("", "QX"));
  EXPECT_FALSE(FindReplyKey("Q", "QX"));
  EXPECT_FALSE(FindReplyKey("AIN1:20", "AIN:"));
  EXPECT_EQ(FindReplyKey("AIN1:20 AIN:020.00", "AIN:"), 8u);
  // The pattern at the very end of the reply still counts.
  EXPECT_EQ(FindReplyKey("..QX", "QX"), 2u);
  // A zero byte inside the reply is a character like any other.
  EXPECT_EQ(FindReplyKey(std::string("\0QX", 3), "QX"), 1u);
}

TEST(FindReplyKey, WildcardPositionsMatchAnyCharacter) {
  EXPECT_EQ(FindReplyKey("QQ..HART0:1,0,00,5,060", "HART?:", '?'), 4u);
  EXPECT_EQ(FindReplyKey("HART7:", "HART?:", '?'), 0u);
  EXPECT_FALSE(FindReplyKey("HART0;", "HART?:", '?'));
  EXPECT_FALSE(FindReplyKey("HART", "HART?:", '?'));
  // Without a wildcard character '?' is an ordinary character.
  EXPECT_FALSE(FindReplyKey("HART0:", "HART?:"));
}

TEST(ReplyField, GivesNothingWhenTheValueRunsPastTheEnd) {
  EXPECT_EQ(ReplyField("ADR:005", 4, 3), std::string_view("005"));
  EXPECT_FALSE(ReplyField("ADR:05", 4, 3));
  EXPECT_FALSE(ReplyField("ADR:", 5, 0));
  EXPECT_EQ(ReplyField("ADR:", 4, 0), std::string_view(""));
  EXPECT_FALSE(ReplyField("ADR:", 4, SIZE_MAX));
}

}  // namespace
