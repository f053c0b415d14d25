#include "protocol/frame_end.h"

#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/modbus_codes.h"

size_t ModbusAnswerEnd(const uint8_t *bytes, size_t count) {
  if (count < 2) return 0;
  const uint8_t function = bytes[1];
  size_t length = 0;
  if (function & modbus::kExceptionBit) {
    length = modbus::kExceptionAnswerLength;
  } else if (function >= modbus::kReadCoils && function <= modbus::kReadInputRegisters) {
    if (count < 3) return 0;
    length = modbus::kReadAnswerOverhead + size_t{bytes[2]};
  } else if (function == modbus::kWriteSingleCoil || function == modbus::kWriteSingleRegister ||
             function == modbus::kWriteMultipleCoils || function == modbus::kWriteMultipleRegisters) {
    length = modbus::kRequestLength;
  } else {
    return 0;  // a function whose answer this program cannot measure: the silence ends it
  }
  if (count < length) return 0;
  const Crc16Bytes crc = Crc16(bytes, length - 2);
  return crc.low == bytes[length - 2] && crc.high == bytes[length - 1] ? length : 0;
}

std::optional<HartReplySpan> FindHartReplyFrame(const uint8_t *bytes, size_t count) {
  size_t i = 0;
  while (i < count) {
    if (bytes[i] != hart::kPreamble) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < count && bytes[i] == hart::kPreamble) ++i;
    if (i == count) return std::nullopt;  // the delimiter has not come yet
    const uint8_t delimiter = bytes[i];
    if (delimiter != hart::kShortReply && delimiter != hart::kLongReply) continue;
    HartReplySpan span;
    span.start = start;
    span.delimiter = i;
    const size_t address = delimiter == hart::kLongReply ? hart::kLongAddressLength : hart::kShortAddressLength;
    const size_t countAt = i + 1 + address + 1;  // after the address and the command
    if (countAt < count) {
      span.countAt = countAt;
      const size_t end = countAt + 1 + size_t{bytes[countAt]} + 1;
      if (end <= count) span.end = end;
    }
    return span;
  }
  return std::nullopt;
}

size_t HartReplyEnd(const uint8_t *bytes, size_t count) {
  const auto span = FindHartReplyFrame(bytes, count);
  if (!span || span->end == 0) return 0;
  const size_t checksumAt = span->end - 1;
  return HartChecksum(bytes + span->delimiter, checksumAt - span->delimiter) == bytes[checksumAt] ? span->end : 0;
}

size_t AcknowledgementEnd(const uint8_t *bytes, size_t count) {
  const std::string_view text(reinterpret_cast<const char *>(bytes), count);
  size_t end = 0;
  for (std::string_view answer : {kSettingTaken, kSettingRefused}) {
    const size_t at = text.find(answer);
    if (at != std::string_view::npos && (end == 0 || at + answer.size() < end)) end = at + answer.size();
  }
  return end;
}
