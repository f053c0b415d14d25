// The module's MODBUS RTU slave side: CRC-16, the register encodings of the data formats, and
// the answer to one request. Pure functions, no state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/modbus_codes.h"

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR. On the wire the
// low byte goes first.
uint16_t ModbusCrc16(const uint8_t *bytes, size_t count);
void AppendModbusCrc(std::vector<uint8_t> *frame);
// At least four bytes, the last two being the CRC of the ones before.
bool ModbusCrcValid(const std::vector<uint8_t> &frame);

// Data formats of a 32-bit value in two holding registers:
//   0 IEEE-754 single, high word first (bytes FF4 FF3 FF2 FF1)
//   1 IEEE-754 single, low word first  (bytes FF2 FF1 FF4 FF3)
//   2 unsigned 32-bit of the rounded value, high word first
//   3 unsigned 32-bit of the rounded value, low word first
// Unsigned values below zero (and NaN) give 0, values beyond the range 0xFFFFFFFF.
std::array<uint16_t, 2> EncodeRegisterPair(float value, int format);
uint32_t RoundedUnsigned(float value);

// The answer of a slave at `slaveAddress` that holds `registers` from protocol address 0 to the
// request frame (whose CRC is checked here too). Empty when the slave stays silent: bad CRC,
// another slave address (or the broadcast address 0), a function code outside 1..127.
std::vector<uint8_t> AnswerModbusRequest(const std::vector<uint8_t> &request, uint8_t slaveAddress,
                                         const std::vector<uint16_t> &registers);
