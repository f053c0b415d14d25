#include "protocol/modbus_rtu.h"

#include "protocol/crc16.h"

std::vector<uint8_t> ReadHoldingRegistersRequest(uint8_t slave, uint16_t start, uint16_t count) {
  std::vector<uint8_t> frame = {slave,
                                0x03,
                                static_cast<uint8_t>(start >> 8),
                                static_cast<uint8_t>(start & 0xFF),
                                static_cast<uint8_t>(count >> 8),
                                static_cast<uint8_t>(count & 0xFF)};
  const Crc16Bytes crc = Crc16(frame.data(), frame.size());
  frame.push_back(crc.low);
  frame.push_back(crc.high);
  return frame;
}
