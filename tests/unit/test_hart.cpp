#include <gtest/gtest.h>

#include "protocol/hart.h"

namespace {

std::vector<uint8_t> B(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}

TEST(HartFrame, ChecksumCoversDelimiterThroughDataOnly) {
  EXPECT_EQ(HartChecksum(B({0x76, 0x89, 0xFD, 0xAD}).data(), 4), 0xAF);
  EXPECT_EQ(HartChecksum(B({0x02, 0x80, 0x00, 0x00}).data(), 4), 0x82);
  EXPECT_EQ(HartChecksum(B({0x5A}).data(), 1), 0x5A);
  EXPECT_EQ(HartChecksum(nullptr, 0), 0x00);
}

TEST(HartFrame, ShortLongAndRawFrames) {
  // Identity query with seven preambles to polling address 0 as primary master.
  EXPECT_EQ(HartShortFrame(7, hart::kPrimaryMaster, 0, 0x00),
            B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82}));
  EXPECT_EQ(HartShortFrame(1, 0x00, 3, 0x00), B({0xFF, 0x02, 0x03, 0x00, 0x00, 0x01}));
  // Dynamic variables to manufacturer 0x26, type 0x06, identifier 00 12 34.
  HartIdentity id{0x26, 0x06, {0x00, 0x12, 0x34}};
  auto cmd3 = HartLongFrame(7, hart::kPrimaryMaster, id, 0x03);
  EXPECT_EQ(cmd3, B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x00, 0x07}));
  // The whole manufacturer byte is OR-ed in, not only its low six bits.
  HartIdentity high{0xC5, 0x01, {0x01, 0x02, 0x03}};
  EXPECT_EQ(HartLongFrame(0, 0x00, high, 0x06, {0x02})[1], 0xC5);
  EXPECT_EQ(HartLongFrame(0, hart::kPrimaryMaster, high, 0x06, {0x02}).size(), 10u);
  EXPECT_EQ(HartRawFrame(0, B({0x02})), B({0x02, 0x02}));
  EXPECT_EQ(HartRawFrame(-1, B({0x02})), B({0x02, 0x02}));
}

TEST(HexPairs, CountsPairsAndChecksSeparatorsBeforeCharacters) {
  auto ok = ParseHexPairs("76 89 FD AD", 15);
  EXPECT_EQ(ok.error, HexPairsError::None);
  EXPECT_EQ(ok.bytes, B({0x76, 0x89, 0xFD, 0xAD}));
  EXPECT_EQ(ParseHexPairs("02", 15).bytes, B({0x02}));
  EXPECT_EQ(ParseHexPairs("02 80 8", 15).bytes, B({0x02, 0x80})) << "a lone last character is ignored";
  EXPECT_EQ(ParseHexPairs("02 80X", 15).bytes, B({0x02, 0x80})) << "after the last pair nothing is tested";
  EXPECT_EQ(ParseHexPairs("0102", 14).bytes, B({0x01})) << "four characters count one byte";

  for (const char *t : {"", "7", "7689FDAD", "02-80 00"}) EXPECT_EQ(ParseHexPairs(t, 15).error, HexPairsError::NoSeparator) << t;
  for (const char *t : {"02 0a", "2 80", "02 8 0", "0g", "01 0g", "3F 8- 00"})
    EXPECT_EQ(ParseHexPairs(t, 15).error, HexPairsError::BadCharacter) << t;
  // A separator error wins over a bad character.
  EXPECT_EQ(ParseHexPairs("zz-zz", 15).error, HexPairsError::NoSeparator);

  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += (i ? " " : "") + std::string("A") + char('0' + i % 10);
  EXPECT_EQ(ParseHexPairs(sixteen, 15).bytes.size(), 15u);
  EXPECT_EQ(ParseHexPairs(sixteen, 14).bytes.size(), 14u);
  // Beyond the cap even garbage is not looked at.
  EXPECT_EQ(ParseHexPairs("01 02-zz", 2).error, HexPairsError::None);
}

TEST(HartUnits, CodesMapToTheirListPositionsAndOthersToTheLast) {
  EXPECT_EQ(UnitPosition(1), 0);
  EXPECT_EQ(UnitPosition(6), 5);
  EXPECT_EQ(UnitPosition(237), 11);
  EXPECT_EQ(UnitPosition(32), 12);
  EXPECT_EQ(UnitPosition(57), 75);
  EXPECT_EQ(UnitPosition(165), 74);
  EXPECT_EQ(UnitPosition(0), 76);
  EXPECT_EQ(UnitPosition(250), 76);
  EXPECT_EQ(UnitPosition(-1), 76);
  // Every code has one position.
  for (int code = 0; code < 256; ++code) {
    int p = UnitPosition(code);
    if (p < 76) {
      EXPECT_EQ(UnitPosition(code), p);
    }
  }
}

TEST(HartCodes, ResponseCodesAndStatusBitsAreToldByName) {
  EXPECT_EQ(hart::ResponseCodeText(7), "7 in write-protect mode");
  EXPECT_EQ(hart::ResponseCodeText(64), "64 command not implemented");
  EXPECT_EQ(hart::ResponseCodeText(9), "9 command-specific error");
  EXPECT_EQ(hart::ResponseCodeText(8), "8 command-specific warning");
  EXPECT_TRUE(hart::IsWarningCode(8));
  EXPECT_TRUE(hart::IsWarningCode(110));
  EXPECT_FALSE(hart::IsWarningCode(32));
  EXPECT_FALSE(hart::IsWarningCode(0));
  EXPECT_EQ(hart::DeviceStatusText(0), "");
  EXPECT_EQ(hart::DeviceStatusText(0x88), "device malfunction, loop current fixed");
  EXPECT_EQ(hart::CommunicationErrorText(0x80 | 0x10 | 0x02), "framing error, buffer overflow");
}

}  // namespace
