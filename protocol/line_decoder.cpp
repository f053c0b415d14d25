#include "protocol/line_decoder.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "protocol/hex.h"
#include "protocol/modbus_codes.h"
#include "protocol/modbus_rtu.h"
#include "protocol/number_format.h"

namespace {

std::string Hex(uint8_t b) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", b);
  return s;
}

bool Printable(uint8_t b) { return b >= 0x20 && b < 0x7F; }

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// ------------------------------------------------------------------------------------------------
// The module's command language

const char *kReturnTimes[] = {"50 ms", "100 ms", "200 ms", "300 ms", "400 ms", "500 ms"};
const char *kBauds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
const char *kParities[] = {"none", "odd", "even"};
const char *kModes[] = {"transparent", "MODBUS single instrument", "MODBUS multiple"};

template <size_t N>
std::string Named(const char *(&names)[N], char digit) {
  const int i = digit - '0';
  return i >= 0 && static_cast<size_t>(i) < N ? names[i] : std::string("'") + digit + "'";
}

std::string Number(std::string_view digits) {
  size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') ++i;
  return std::string(digits.substr(i));
}

// What a request of the module's language asks for, from the text after its prefix.
std::string ModuleRequest(std::string_view frame) {
  if (StartsWith(frame, "QQQ#")) {
    const std::string_view name = frame.substr(4);
    if (name == "QV#") return "communication query";
    if (name == "QX#") return "system parameter query";
    if (name == "QVAL#") return "AD channel query";
    if (name.size() == 4 && StartsWith(name, "QQ") && name[3] == '#') return std::string("MODBUS parameter query of meter ") + name[2];
    return "query";
  }
  if (StartsWith(frame, "QQS#")) {
    const std::string_view s = frame.substr(4);
    auto arg = [&](std::string_view key) { return s.substr(key.size(), s.size() - key.size() - (s.back() == '#')); };
    if (s == "RESET#") return "parameter initialization";
    if (StartsWith(s, "ADR:") && s.size() == 8) return "set MODBUS slave address to " + Number(arg("ADR:"));
    if (StartsWith(s, "MD:") && s.size() == 5) return "set working mode to " + Named(kModes, s[3]);
    if (StartsWith(s, "XY:") && s.size() == 5) return "set RS485 return time to " + Named(kReturnTimes, s[3]);
    if (StartsWith(s, "JTM:") && s.size() == 8) return "set HART interval to " + Number(arg("JTM:")) + "0 ms";
    if (StartsWith(s, "BA2:") && s.size() == 7)
      return "set RS485 line to " + Named(kBauds, s[4]) + " baud, parity " + Named(kParities, s[5]);
    if (StartsWith(s, "HART") && s.size() == 19)
      return std::string("set meter ") + s[4] + " profile: " + (s[6] == '1' ? "enabled" : "disabled") + ", " +
             (s[8] == '1' ? "master" : "secondary master") + ", type " + Number(s.substr(10, 2)) + ", " + s[13] +
             " preambles, buffer clear time " + Number(s.substr(15, 3)) + " s";
    if (StartsWith(s, "DFOT") && s.size() == 12) return std::string("set meter ") + s[4] + " data formats " + std::string(s.substr(6, 5));
    if (StartsWith(s, "FMW:") && s.size() >= 8 && s[5] == ',') return "set variable 1 coefficient: mode " + std::string(1, s[4]) + ", factor " + std::string(arg("FMW:").substr(2));
    if (StartsWith(s, "CAMD") && s.size() >= 12)
      return std::string("set meter ") + s[4] + " custom command " + s[5] + ": " + (s[7] == '1' ? "on" : "off") + ", " +
             Number(s.substr(9, 2)) + " bytes";
    if (StartsWith(s, "MDBS")) return std::string("set meter ") + (s.size() > 4 ? s[4] : '?') + " custom parsing format";
    return "setting";
  }
  if (StartsWith(frame, "KORVEN#")) {
    const std::string_view s = frame.substr(7);
    const size_t colon = s.find(':');
    const std::string name(s.substr(0, colon));
    const std::string args = colon == std::string_view::npos ? "" : std::string(s.substr(colon + 1, s.size() - colon - 1 - (s.back() == '#')));
    if (name == "AIN1") return "set totalizer (URV, LRV, starting point) to " + args;
    if (name == "ZOM") return "set low-flow cut-off to " + args;
    if (name == "LPN") return "set integer LSD to " + args;
    if (name == "LPF") return "set decimal LSD to " + args;
    if (name == "ADX") return "set coefficient to " + args + "/10000";
    if (name == "PCBSN") return "set board serial number and inspector to " + args;
    return "factory command";
  }
  return "text";
}

// A reply of the module's language: its marker named, its keyed values listed.
std::string ModuleReply(std::string_view text) {
  std::string what = "answer";
  if (StartsWith(text, "QV:")) what = "communication reply";
  else if (StartsWith(text, "QX")) what = "system parameters";
  else if (StartsWith(text, "QQ")) what = "MODBUS parameters";
  std::string values;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('#', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view field = text.substr(at, end - at);
    const size_t colon = field.find(':');
    if (!field.empty()) {
      values += values.empty() ? ": " : ", ";
      values += colon == std::string_view::npos ? std::string(field)
                                                 : std::string(field.substr(0, colon)) + "=" + std::string(field.substr(colon + 1));
    }
    at = end + 1;
  }
  return what + values;
}

// The length of a module frame that starts at `at`, or 0.
size_t ModuleFrameLength(const uint8_t *b, size_t n, LineDirection direction) {
  const std::string_view text(reinterpret_cast<const char *>(b), n);
  if (direction == LineDirection::Sent) {
    if (StartsWith(text, "QQS#CAMD") && n >= 16) {
      // A binary payload follows "<nn,": no closing "#".
      const int count = (b[13] - '0') * 10 + (b[14] - '0');
      if (count >= 0 && count <= 99 && 16 + static_cast<size_t>(count) <= n) return 16 + static_cast<size_t>(count);
      return 0;
    }
    for (std::string_view prefix : {"QQQ#", "QQS#", "KORVEN#"}) {
      if (!StartsWith(text, prefix)) continue;
      const size_t end = text.find('#', prefix.size());
      return end == std::string_view::npos ? 0 : end + 1;
    }
    return 0;
  }
  // An answer: the printable run that ends with its last "#".
  size_t end = 0;
  while (end < n && Printable(b[end])) ++end;
  const size_t hash = text.substr(0, end).rfind('#');
  return end >= 2 && hash != std::string_view::npos ? hash + 1 : 0;
}

// ------------------------------------------------------------------------------------------------
// HART

// The length of a HART frame starting at `at` (preambles first), or 0 when none is there whole:
// a master's request going out, an answer or a burst coming in.
size_t HartFrameLength(const uint8_t *b, size_t n, LineDirection direction, size_t *preambles) {
  size_t p = 0;
  while (p < n && b[p] == hart::kPreamble) ++p;
  // An instrument always sends preambles; only a request typed by hand may have none.
  if (p + 1 > n || (direction == LineDirection::Received && p < 2)) return 0;
  const uint8_t delimiter = b[p];
  const uint8_t type = delimiter & hart::kFrameTypeMask;
  const bool sent = direction == LineDirection::Sent;
  if ((delimiter & hart::kDelimiterReservedMask) != 0 ||
      (sent ? type != hart::kRequestFrame : type != hart::kBurstFrame && type != hart::kReplyFrame))
    return 0;
  const size_t address = (delimiter & hart::kLongAddressFrame) ? hart::kLongAddressLength : hart::kShortAddressLength;
  const size_t countAt = p + 1 + address + 1;
  if (countAt >= n) return 0;
  const size_t total = countAt + 1 + b[countAt] + 1;
  if (total > n) return 0;
  *preambles = p;
  return total;
}

std::string DeviceStatus(uint8_t status) {
  if (status == 0) return "device status 00";
  return "device status " + Hex(status) + " (" + hart::DeviceStatusText(status) + ")";
}

std::string Float(const uint8_t *v) {
  return v[0] == hart::kNotANumberFirstByte ? std::string("NaN") : FormatGeneral(FloatFromBytes(v[0], v[1], v[2], v[3]));
}

DecodedFrame HartFrame(const uint8_t *b, size_t length, size_t preambles) {
  DecodedFrame f;
  f.dialect = Dialect::Hart;
  f.length = length;
  const uint8_t delimiter = b[preambles];
  const uint8_t type = delimiter & hart::kFrameTypeMask;
  const bool longFrame = delimiter & hart::kLongAddressFrame;
  const uint8_t *a = b + preambles + 1;
  std::string t = type == hart::kRequestFrame ? "HART request" : type == hart::kReplyFrame ? "HART reply" : "HART burst";
  t += ", " + std::to_string(preambles) + " preambles, " + (longFrame ? "long" : "short") + " frame, ";
  t += (a[0] & hart::kPrimaryMaster) ? "primary master" : "secondary master";
  if (longFrame) {
    const uint32_t id = uint32_t{a[2]} << 16 | uint32_t{a[3]} << 8 | a[4];
    t += ", manufacturer " + std::to_string(a[0] & hart::kAddressMask) + " type " + std::to_string(a[1]) + " id " + std::to_string(id);
  } else {
    t += ", polling address " + std::to_string(a[0] & hart::kAddressMask);
  }
  const size_t commandAt = preambles + 1 + (longFrame ? hart::kLongAddressLength : hart::kShortAddressLength);
  const int command = b[commandAt];
  const size_t count = b[commandAt + 1];
  const uint8_t *data = b + commandAt + 2;
  const char *name = hart::CommandName(command);
  t += ", command " + std::to_string(command) + (*name ? std::string(" (") + name + ")" : std::string());
  t += ", " + std::to_string(count) + " data bytes";
  size_t dataAt = 0;
  if (type != hart::kRequestFrame && count >= 2) {
    t += ", response code " + std::to_string(data[0]) + ", " + DeviceStatus(data[1]);
    dataAt = 2;
  }
  const bool success = type == hart::kReplyFrame && count >= 2 && data[0] == hart::kSuccess;
  if (success && command == hart::kReadUniqueIdentifier && count >= 14)
    t += ", manufacturer " + std::to_string(data[dataAt + 1]) + " type " + std::to_string(data[dataAt + 2]) + " id " +
         std::to_string(uint32_t{data[dataAt + 9]} << 16 | uint32_t{data[dataAt + 10]} << 8 | data[dataAt + 11]);
  else if (success && command == hart::kReadDynamicVariables && count >= 11) {
    t += ", current " + Float(data + 2) + " mA";
    for (size_t v = 0; dataAt + 4 + 5 * v + 5 <= count; ++v) {
      const uint8_t *var = data + 6 + 5 * v;
      t += ", variable " + std::to_string(v + 1) + " " + Float(var + 1) + " " + UnitName(UnitPosition(var[0]));
    }
  } else if (count > dataAt) {
    t += ", data " + HexRun(data + dataAt, count - dataAt);
  }
  const uint8_t expected = HartChecksum(b + preambles, length - preambles - 1);
  const uint8_t received = b[length - 1];
  t += ", checksum " + Hex(received) + (received == expected ? " ok" : " wrong, expected " + Hex(expected));
  f.flawed = received != expected;
  f.text = t;
  return f;
}

// ------------------------------------------------------------------------------------------------
// MODBUS RTU

bool CrcOk(const uint8_t *b, size_t length) {
  return length >= 4 && Crc16(b, length - 2).Value() == static_cast<uint16_t>(b[length - 2] | b[length - 1] << 8);
}

// The length of a MODBUS RTU frame at `b` whose CRC holds, or 0.
size_t ModbusFrameLength(const uint8_t *b, size_t n, LineDirection direction) {
  if (n < 4 || b[1] == 0) return 0;
  const uint8_t f = b[1];
  std::optional<size_t> length;
  if (f & modbus::kExceptionBit) length = modbus::kExceptionAnswerLength;
  else if (direction == LineDirection::Sent) length = modbus::kRequestLength;
  else if (f >= modbus::kReadCoils && f <= modbus::kReadInputRegisters && n >= 3) length = modbus::kReadAnswerOverhead + size_t{b[2]};
  else if (f == modbus::kWriteSingleCoil || f == modbus::kWriteSingleRegister || f == modbus::kWriteMultipleCoils ||
           f == modbus::kWriteMultipleRegisters)
    length = modbus::kRequestLength;
  if (!length || *length > n) return 0;
  return CrcOk(b, *length) ? *length : 0;
}

DecodedFrame ModbusFrame(const uint8_t *b, size_t length, LineDirection direction) {
  DecodedFrame f;
  f.dialect = Dialect::Modbus;
  f.length = length;
  const uint8_t function = b[1];
  const char *name = modbus::FunctionName(function);
  std::string t = std::string("MODBUS ") + (direction == LineDirection::Sent ? "request" : "answer") + ": slave " +
                  std::to_string(b[0]) + ", function " + std::to_string(function & ~modbus::kExceptionBit) + (*name ? std::string(" (") + name + ")" : "");
  if (function & modbus::kExceptionBit) {
    const char *exception = modbus::ExceptionName(b[2]);
    t += ", exception " + std::to_string(b[2]) + (*exception ? std::string(" (") + exception + ")" : "");
  } else if (direction == LineDirection::Sent && length == modbus::kRequestLength) {
    t += ", start " + std::to_string(b[2] << 8 | b[3]) + ", count " + std::to_string(b[4] << 8 | b[5]);
  } else if (length >= modbus::kReadAnswerOverhead && function >= modbus::kReadCoils &&
             function <= modbus::kReadInputRegisters) {
    t += ", " + std::to_string(b[2]) + " bytes";
    if (function >= modbus::kReadHoldingRegisters) {
      t += ", registers";
      for (size_t i = 3; i + 1 < length - 2; i += 2) t += " " + std::to_string(b[i] << 8 | b[i + 1]);
    }
  } else {
    t += ", " + HexRun(b + 2, length - 4);
  }
  const uint16_t expected = Crc16(b, length - 2).Value();
  const bool ok = CrcOk(b, length);
  t += ", CRC " + Hex(b[length - 2]) + " " + Hex(b[length - 1]) +
       (ok ? " ok" : " wrong, expected " + Hex(expected & 0xFF) + " " + Hex(expected >> 8));
  f.flawed = !ok;
  f.text = t;
  return f;
}

// Bytes shaped like a whole MODBUS request or answer whose CRC does not hold: shown as a flawed
// MODBUS frame rather than as noise.
bool LooksLikeModbus(const uint8_t *b, size_t n, LineDirection direction) {
  if (n < modbus::kExceptionAnswerLength || b[0] > modbus::kMaxSlaveAddress) return false;
  if (direction == LineDirection::Sent)
    return n == modbus::kRequestLength && b[1] >= modbus::kReadCoils && b[1] <= modbus::kWriteMultipleRegisters;
  if (b[1] & modbus::kExceptionBit) return n == modbus::kExceptionAnswerLength;
  return b[1] >= modbus::kReadCoils && b[1] <= modbus::kReadInputRegisters && n == modbus::kReadAnswerOverhead + size_t{b[2]};
}

}  // namespace

const char *DialectName(Dialect dialect) {
  switch (dialect) {
    case Dialect::Module: return "module";
    case Dialect::Hart: return "HART";
    case Dialect::Modbus: return "MODBUS";
    case Dialect::Noise: return "noise";
  }
  return "";
}

std::vector<DecodedFrame> DecodeLine(const uint8_t *bytes, size_t count, LineDirection direction) {
  std::vector<DecodedFrame> frames;
  size_t noiseStart = 0;
  size_t at = 0;
  auto flushNoise = [&](size_t end) {
    if (end <= noiseStart) return;
    DecodedFrame f;
    f.offset = noiseStart;
    f.length = end - noiseStart;
    f.flawed = true;
    f.text = std::to_string(f.length) + " bytes of noise: " + HexRun(bytes + noiseStart, f.length);
    frames.push_back(f);
  };
  while (at < count) {
    const uint8_t *b = bytes + at;
    const size_t n = count - at;
    DecodedFrame f;
    size_t preambles = 0;
    if (const size_t length = ModuleFrameLength(b, n, direction)) {
      const std::string text(reinterpret_cast<const char *>(b), length);
      f.dialect = Dialect::Module;
      f.length = length;
      f.text = direction == LineDirection::Sent ? text + ": " + ModuleRequest(text) : ModuleReply(text);
      if (StartsWith(text, "QQS#CAMD")) f.text = "QQS#CAMD...: " + ModuleRequest(text);
    } else if (const size_t length = ModbusFrameLength(b, n, direction); length && b[0] != hart::kPreamble) {
      f = ModbusFrame(b, length, direction);
    } else if (const size_t length = HartFrameLength(b, n, direction, &preambles)) {
      f = HartFrame(b, length, preambles);
    } else if (at == 0 && LooksLikeModbus(b, n, direction)) {
      f = ModbusFrame(b, n, direction);  // whole, but its CRC does not hold
    } else {
      ++at;
      continue;
    }
    flushNoise(at);
    f.offset = at;
    frames.push_back(f);
    at += f.length;
    noiseStart = at;
  }
  flushNoise(count);
  return frames;
}

std::string DecodeLineText(const uint8_t *bytes, size_t count, LineDirection direction) {
  std::string out;
  for (const DecodedFrame &f : DecodeLine(bytes, count, direction)) out += (out.empty() ? "" : " | ") + f.text;
  return out;
}

std::string BytesAndText(const uint8_t *bytes, size_t count) {
  return HexRun(bytes, count) + "  " + TextRun(bytes, count);
}

std::string TraceText(const uint8_t *bytes, size_t count, LineDirection direction) {
  return BytesAndText(bytes, count) + "\n      " + DecodeLineText(bytes, count, direction);
}
