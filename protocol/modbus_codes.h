// The codes of a MODBUS RTU frame, named once for every part of the program: function codes,
// the exception bit and exception codes, and the limits of a read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace modbus {

enum FunctionCode : uint8_t {
  kReadCoils = 0x01,
  kReadDiscreteInputs = 0x02,
  kReadHoldingRegisters = 0x03,
  kReadInputRegisters = 0x04,
  kWriteSingleCoil = 0x05,
  kWriteSingleRegister = 0x06,
  kWriteMultipleCoils = 0x0F,
  kWriteMultipleRegisters = 0x10,
};

// Set in the function code of an exception answer.
constexpr uint8_t kExceptionBit = 0x80;

enum ExceptionCode : uint8_t {
  kIllegalFunction = 0x01,
  kIllegalDataAddress = 0x02,
  kIllegalDataValue = 0x03,
  kServerDeviceFailure = 0x04,
  kAcknowledge = 0x05,
  kServerDeviceBusy = 0x06,
  kMemoryParityError = 0x08,
  kGatewayPathUnavailable = 0x0A,
  kGatewayTargetFailedToRespond = 0x0B,
};

constexpr uint8_t kBroadcastAddress = 0;
constexpr uint8_t kMaxSlaveAddress = 247;
constexpr size_t kMaxReadRegisters = 125;
// Slave, function, exception code, CRC.
constexpr size_t kExceptionAnswerLength = 5;
// Slave, function, start, count, CRC: a read request, and the echo of a single write.
constexpr size_t kRequestLength = 8;
// Slave, function, byte count before the data; CRC after it.
constexpr size_t kReadAnswerOverhead = 5;

// "read holding registers"; "" for a function code without a standard name. The exception bit is
// ignored.
const char *FunctionName(uint8_t function);
// "illegal data address"; "" for a code without a standard name.
const char *ExceptionName(uint8_t code);

}  // namespace modbus
