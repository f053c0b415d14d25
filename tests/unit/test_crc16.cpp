#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/crc16.h"

namespace {

// The CRC computed bit by bit, to check the tables against.
uint16_t BitwiseCrc(const std::vector<uint8_t> &bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

Crc16Bytes Of(const std::vector<uint8_t> &bytes) { return Crc16(bytes.data(), bytes.size()); }

TEST(Crc16, CheckValues) {
  const std::string digits = "123456789";
  const Crc16Bytes check = Of({digits.begin(), digits.end()});
  EXPECT_EQ(check.Value(), 0x4B37);
  EXPECT_EQ(check.low, 0x37);
  EXPECT_EQ(check.high, 0x4B);

  const Crc16Bytes ten = Of({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
  EXPECT_EQ(ten.low, 0xC5);
  EXPECT_EQ(ten.high, 0xCD);
  const Crc16Bytes one = Of({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(one.low, 0x84);
  EXPECT_EQ(one.high, 0x0A);

  EXPECT_EQ(Of({}).Value(), 0xFFFF);
}

TEST(Crc16, TablesMatchTheModbusTablesAndTheBitwiseRule) {
  const uint8_t low[] = {0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41};
  const uint8_t high[] = {0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(kCrc16LowTable[i], low[i]) << i;
    EXPECT_EQ(kCrc16HighTable[i], high[i]) << i;
  }
  EXPECT_EQ(kCrc16LowTable[255], 0x40);
  EXPECT_EQ(kCrc16HighTable[255], 0x40);
  EXPECT_EQ(kCrc16LowTable[128], 0x01);
  EXPECT_EQ(kCrc16HighTable[128], 0xA0);

  std::mt19937 random(735);
  for (size_t length : {1u, 2u, 7u, 64u, 255u, 1000u}) {
    std::vector<uint8_t> bytes(length);
    for (auto &b : bytes) b = static_cast<uint8_t>(random());
    EXPECT_EQ(Of(bytes).Value(), BitwiseCrc(bytes)) << length;
  }
  // Every single byte value, alone and after another.
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(Of({static_cast<uint8_t>(b)}).Value(), BitwiseCrc({static_cast<uint8_t>(b)})) << b;
    EXPECT_EQ(Of({0xA5, static_cast<uint8_t>(b)}).Value(), BitwiseCrc({0xA5, static_cast<uint8_t>(b)})) << b;
  }
}

}  // namespace
