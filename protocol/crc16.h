// CRC-16 of MODBUS RTU frames: polynomial 0xA001 (0x8005 reflected), start value 0xFFFF, bits least
// significant first, no final XOR. The low-order byte goes first on the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Entry i: the low-order (first table) and high-order (second table) byte of the CRC of the single
// byte i under 0xA001, started from zero.
extern const std::array<uint8_t, 256> kCrc16LowTable;
extern const std::array<uint8_t, 256> kCrc16HighTable;

struct Crc16Bytes {
  uint8_t low = 0;
  uint8_t high = 0;
  uint16_t Value() const { return static_cast<uint16_t>(high << 8 | low); }
};

// Table-driven, one step per byte.
Crc16Bytes Crc16(const uint8_t *bytes, size_t count);
