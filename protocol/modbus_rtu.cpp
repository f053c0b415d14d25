#include "protocol/modbus_rtu.h"

#include "protocol/crc16.h"

#include <cstring>

std::vector<uint8_t> ReadHoldingRegistersRequest(uint8_t slave, uint16_t start, uint16_t count) {
  std::vector<uint8_t> frame = {slave,
                                modbus::kReadHoldingRegisters,
                                static_cast<uint8_t>(start >> 8),
                                static_cast<uint8_t>(start & 0xFF),
                                static_cast<uint8_t>(count >> 8),
                                static_cast<uint8_t>(count & 0xFF)};
  const Crc16Bytes crc = Crc16(frame.data(), frame.size());
  frame.push_back(crc.low);
  frame.push_back(crc.high);
  return frame;
}

RegistersAnswer ReadRegistersAnswer(const std::vector<uint8_t> &answer) {
  RegistersAnswer r;
  if (answer.size() < modbus::kExceptionAnswerLength) {
    r.problem = "too short for a MODBUS answer";
    return r;
  }
  r.slave = answer[0];
  r.function = answer[1];
  const size_t body = answer.size() - 2;
  r.crcExpected = Crc16(answer.data(), body).Value();
  r.crcOk = r.crcExpected == static_cast<uint16_t>(answer[body] | answer[body + 1] << 8);
  if (r.function & modbus::kExceptionBit) {
    r.exception = true;
    r.exceptionCode = answer[2];
    if (answer.size() != modbus::kExceptionAnswerLength) r.problem = "an exception answer holds 5 bytes";
    return r;
  }
  const size_t count = answer[2];
  if (count % 2 != 0 || 3 + count != body) {
    r.problem = "byte count " + std::to_string(count) + " does not match the " + std::to_string(body - 3) + " bytes";
    return r;
  }
  for (size_t i = 0; i < count; i += 2) r.registers.push_back(static_cast<uint16_t>(answer[3 + i] << 8 | answer[4 + i]));
  return r;
}

std::string AnswerMismatch(const RegistersAnswer &answer, uint8_t slave, uint8_t function) {
  if (answer.slave != slave)
    return "the answer comes from slave " + std::to_string(answer.slave) + ", not from slave " + std::to_string(slave);
  const uint8_t answered = answer.function & static_cast<uint8_t>(~modbus::kExceptionBit);
  if (answered != function) {
    const char *name = modbus::FunctionName(answered);
    return "the answer is for function " + std::to_string(answered) + (*name ? std::string(" (") + name + ")" : "") +
           ", not " + std::to_string(function);
  }
  return "";
}

double RegisterPairValue(uint16_t first, uint16_t second, int format) {
  const bool lowFirst = format == 1 || format == 3;
  const uint32_t bits = lowFirst ? (uint32_t{second} << 16 | first) : (uint32_t{first} << 16 | second);
  if (format >= 2) return static_cast<double>(bits);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return static_cast<double>(f);
}
