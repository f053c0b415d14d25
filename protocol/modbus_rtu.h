// MODBUS RTU as the configuration tool speaks it to the module's slave side: the read request
// (function 03, Read Holding Registers) with its CRC-16, the slave's answer, and the data formats
// of the module's 32-bit values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/modbus_codes.h"

// Slave, 03, start address and register count (high byte first), CRC (low byte first): 8 bytes.
std::vector<uint8_t> ReadHoldingRegistersRequest(uint8_t slave, uint16_t start, uint16_t count);

// A slave's answer to a read request.
struct RegistersAnswer {
  std::string problem;  // empty when the answer is well formed: too short, byte count off, ...
  uint8_t slave = 0;
  uint8_t function = 0;
  bool exception = false;  // the function's exception bit is set: `exceptionCode` says why
  uint8_t exceptionCode = 0;
  std::vector<uint16_t> registers;
  bool crcOk = false;
  uint16_t crcExpected = 0;  // of the bytes before the last two
};
RegistersAnswer ReadRegistersAnswer(const std::vector<uint8_t> &answer);
// Why `answer` does not answer a request to `slave` for `function` (its exception bit aside): it
// comes from another slave, or answers another function. "" when it does.
std::string AnswerMismatch(const RegistersAnswer &answer, uint8_t slave, uint8_t function);

// Two registers as the module publishes a 32-bit value: 0 IEEE-754 single with the high word first
// (bytes FF4 FF3 FF2 FF1), 1 low word first (FF2 FF1 FF4 FF3), 2 and 3 the same as unsigned 32-bit.
double RegisterPairValue(uint16_t first, uint16_t second, int format);
