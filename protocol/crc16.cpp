#include "protocol/crc16.h"

#include "protocol/byte_loop.h"

namespace {

constexpr uint16_t SingleByteCrc(unsigned byte) {
  uint16_t crc = static_cast<uint16_t>(byte);
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  return crc;
}

constexpr std::array<uint8_t, 256> MakeTable(bool high) {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    const uint16_t crc = SingleByteCrc(i);
    table[i] = static_cast<uint8_t>(high ? crc >> 8 : crc & 0xFF);
  }
  return table;
}

}  // namespace

const std::array<uint8_t, 256> kCrc16LowTable = MakeTable(false);
const std::array<uint8_t, 256> kCrc16HighTable = MakeTable(true);

RQ735_BYTE_LOOP Crc16Bytes Crc16(const uint8_t *bytes, size_t count) {
  Crc16Bytes crc{0xFF, 0xFF};  // start value 0xFFFF
  for (size_t n = 0; n < count; ++n) {
    const uint8_t i = bytes[n] ^ crc.low;
    crc.low = kCrc16LowTable[i] ^ crc.high;
    crc.high = kCrc16HighTable[i];
  }
  return crc;
}
