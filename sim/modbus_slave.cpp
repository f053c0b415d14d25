#include "sim/modbus_slave.h"

#include <cmath>
#include <cstring>

uint16_t ModbusCrc16(const uint8_t *bytes, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

void AppendModbusCrc(std::vector<uint8_t> *frame) {
  const uint16_t crc = ModbusCrc16(frame->data(), frame->size());
  frame->push_back(static_cast<uint8_t>(crc & 0xFF));
  frame->push_back(static_cast<uint8_t>(crc >> 8));
}

bool ModbusCrcValid(const std::vector<uint8_t> &frame) {
  if (frame.size() < 4) return false;
  const size_t body = frame.size() - 2;
  const uint16_t crc = ModbusCrc16(frame.data(), body);
  return frame[body] == (crc & 0xFF) && frame[body + 1] == (crc >> 8);
}

uint32_t RoundedUnsigned(float value) {
  if (!(value > 0)) return 0;  // negative, zero or NaN
  if (value >= 4294967295.5f) return UINT32_MAX;
  return static_cast<uint32_t>(std::llround(static_cast<double>(value)));
}

std::array<uint16_t, 2> EncodeRegisterPair(float value, int format) {
  uint32_t bits;
  if (format == 2 || format == 3) {
    bits = RoundedUnsigned(value);
  } else {
    std::memcpy(&bits, &value, sizeof bits);
  }
  const uint16_t high = static_cast<uint16_t>(bits >> 16);
  const uint16_t low = static_cast<uint16_t>(bits & 0xFFFF);
  if (format == 1 || format == 3) return {low, high};
  return {high, low};
}

namespace {

std::vector<uint8_t> Exception(uint8_t slave, uint8_t function, uint8_t code) {
  std::vector<uint8_t> reply{slave, static_cast<uint8_t>(function | modbus::kExceptionBit), code};
  AppendModbusCrc(&reply);
  return reply;
}

}  // namespace

std::vector<uint8_t> AnswerModbusRequest(const std::vector<uint8_t> &request, uint8_t slaveAddress,
                                         const std::vector<uint16_t> &registers) {
  if (!ModbusCrcValid(request)) return {};
  const uint8_t slave = request[0];
  const uint8_t function = request[1];
  if (slave == modbus::kBroadcastAddress || slave != slaveAddress) return {};
  if (function == 0 || (function & modbus::kExceptionBit)) return {};
  if (function != modbus::kReadHoldingRegisters) return Exception(slave, function, modbus::kIllegalFunction);

  // Address, function, start (2), count (2), CRC (2).
  if (request.size() != modbus::kRequestLength) return Exception(slave, function, modbus::kIllegalDataValue);
  const size_t start = static_cast<size_t>(request[2]) << 8 | request[3];
  const size_t count = static_cast<size_t>(request[4]) << 8 | request[5];
  if (count == 0 || count > modbus::kMaxReadRegisters)
    return Exception(slave, function, modbus::kIllegalDataValue);
  if (start + count > registers.size()) return Exception(slave, function, modbus::kIllegalDataAddress);

  std::vector<uint8_t> reply{slave, function, static_cast<uint8_t>(2 * count)};
  for (size_t i = start; i < start + count; ++i) {
    reply.push_back(static_cast<uint8_t>(registers[i] >> 8));
    reply.push_back(static_cast<uint8_t>(registers[i] & 0xFF));
  }
  AppendModbusCrc(&reply);
  return reply;
}
