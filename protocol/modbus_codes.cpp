#include "protocol/modbus_codes.h"

namespace modbus {

const char *FunctionName(uint8_t function) {
  switch (function & ~kExceptionBit) {
    case kReadCoils: return "read coils";
    case kReadDiscreteInputs: return "read discrete inputs";
    case kReadHoldingRegisters: return "read holding registers";
    case kReadInputRegisters: return "read input registers";
    case kWriteSingleCoil: return "write single coil";
    case kWriteSingleRegister: return "write single register";
    case kWriteMultipleCoils: return "write multiple coils";
    case kWriteMultipleRegisters: return "write multiple registers";
    default: return "";
  }
}

const char *ExceptionName(uint8_t code) {
  switch (code) {
    case kIllegalFunction: return "illegal function";
    case kIllegalDataAddress: return "illegal data address";
    case kIllegalDataValue: return "illegal data value";
    case kServerDeviceFailure: return "server device failure";
    case kAcknowledge: return "acknowledge";
    case kServerDeviceBusy: return "server device busy";
    case kMemoryParityError: return "memory parity error";
    case kGatewayPathUnavailable: return "gateway path unavailable";
    case kGatewayTargetFailedToRespond: return "gateway target device failed to respond";
    default: return "";
  }
}

}  // namespace modbus
