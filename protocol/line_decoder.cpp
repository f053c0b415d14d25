#include "protocol/line_decoder.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "protocol/hart_reply.h"
#include "protocol/modbus_codes.h"
#include "protocol/modbus_rtu.h"
#include "protocol/module_layouts.h"
#include "protocol/number_format.h"

namespace {

namespace L = module_layout;

std::string Hex(uint8_t b) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", b);
  return s;
}

std::string HexRun(const uint8_t *bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i ? " " : "") + Hex(bytes[i]);
  return out;
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
std::string Named(const char *(&names)[N], std::string_view digit) {
  const char c = digit.empty() ? '?' : digit[0];
  const int i = c - '0';
  return i >= 0 && static_cast<size_t>(i) < N ? names[i] : std::string("'") + c + "'";
}

std::string Number(std::string_view digits) {
  size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') ++i;
  return std::string(digits.substr(i));
}

std::string_view Unterminated(std::string_view frame) {
  return !frame.empty() && frame.back() == L::kFrameEnd ? frame.substr(0, frame.size() - 1) : frame;
}

// A frame's values, where its layout puts them.
class Values {
 public:
  Values(std::string_view text, const L::Layout &layout) : text_(text), layout_(layout) {}
  std::string operator[](size_t value) const { return std::string(L::ValueText(text_, 0, layout_.Value(value))); }
  // What follows the key.
  std::string Arguments() const { return std::string(text_.substr(layout_.KeyLength())); }

 private:
  std::string_view text_;
  const L::Layout &layout_;
};

std::string QueryRequest(std::string_view name) {
  if (L::Matches(name, L::kCommunicationQuery)) return "communication query";
  if (L::Matches(name, L::kSystemParameterQuery)) return "system parameter query";
  if (L::Matches(name, L::kAdChannelQuery)) return "AD channel query";
  if (L::Matches(name, L::kMeterQuery)) return "MODBUS parameter query of meter " + Values(name, L::kMeterQuery)[0];
  return "query";
}

std::string SettingRequest(std::string_view s) {
  if (L::Matches(s, L::kCustomCommand)) {
    const Values v(s, L::kCustomCommand);
    return "set meter " + v[0] + " custom command " + v[1] + ": " + (v[2] == "1" ? "on" : "off") + ", " + Number(v[3]) +
           " bytes";
  }
  s = Unterminated(s);
  if (L::Matches(s, L::kParameterReset)) return "parameter initialization";
  if (L::Matches(s, L::kSlaveAddress)) return "set MODBUS slave address to " + Number(Values(s, L::kSlaveAddress)[0]);
  if (L::Matches(s, L::kWorkingMode)) return "set working mode to " + Named(kModes, Values(s, L::kWorkingMode)[0]);
  if (L::Matches(s, L::kReturnTime)) return "set RS485 return time to " + Named(kReturnTimes, Values(s, L::kReturnTime)[0]);
  if (L::Matches(s, L::kHartInterval)) return "set HART interval to " + Number(Values(s, L::kHartInterval)[0]) + "0 ms";
  if (L::Matches(s, L::kLineSetting)) {
    const Values v(s, L::kLineSetting);
    return "set RS485 line to " + Named(kBauds, v[0]) + " baud, parity " + Named(kParities, v[1]);
  }
  if (L::Matches(s, L::kMeterProfile)) {
    const Values v(s, L::kMeterProfile);
    return "set meter " + v[0] + " profile: " + (v[1] == "1" ? "enabled" : "disabled") + ", " +
           (v[2] == "1" ? "master" : "secondary master") + ", type " + Number(v[3]) + ", " + v[4] +
           " preambles, buffer clear time " + Number(v[5]) + " s";
  }
  if (L::Matches(s, L::kDataFormat)) {
    const Values v(s, L::kDataFormat);
    return "set meter " + v[0] + " data formats " + v[1] + v[2] + v[3] + v[4] + v[5];
  }
  if (L::Matches(s, L::kCoefficient)) {
    const Values v(s, L::kCoefficient);
    return "set variable 1 coefficient: mode " + v[0] + ", factor " + v[1];
  }
  if (L::Matches(s, L::kParsingFormat)) return "set meter " + Values(s, L::kParsingFormat)[0] + " custom parsing format";
  return "setting";
}

std::string FactoryRequest(std::string_view s) {
  s = Unterminated(s);
  if (L::Matches(s, L::kTotalizer)) return "set totalizer (URV, LRV, starting point) to " + Values(s, L::kTotalizer).Arguments();
  if (L::Matches(s, L::kCutoff)) return "set low-flow cut-off to " + Values(s, L::kCutoff).Arguments();
  if (L::Matches(s, L::kIntegerLsd)) return "set integer LSD to " + Values(s, L::kIntegerLsd).Arguments();
  if (L::Matches(s, L::kDecimalLsd)) return "set decimal LSD to " + Values(s, L::kDecimalLsd).Arguments();
  if (L::Matches(s, L::kCoefficientFactor)) return "set coefficient to " + Values(s, L::kCoefficientFactor).Arguments() + "/10000";
  if (L::Matches(s, L::kBoardData)) return "set board serial number and inspector to " + Values(s, L::kBoardData).Arguments();
  return "factory command";
}

// What a request of the module's language asks for.
std::string ModuleRequest(std::string_view frame) {
  if (StartsWith(frame, L::kQueryPrefix)) return QueryRequest(Unterminated(frame.substr(L::kQueryPrefix.size())));
  if (StartsWith(frame, L::kSettingPrefix)) return SettingRequest(frame.substr(L::kSettingPrefix.size()));
  if (StartsWith(frame, L::kFactoryPrefix)) return FactoryRequest(frame.substr(L::kFactoryPrefix.size()));
  return "text";
}

// A reply of the module's language: its marker named, its keyed values listed.
std::string ModuleReply(std::string_view text) {
  std::string what = "answer";
  if (StartsWith(text, L::kCommunicationReplyMarker)) what = "communication reply";
  else if (StartsWith(text, L::kSystemReplyMarker)) what = "system parameters";
  else if (StartsWith(text, L::kMeterReplyMarker)) what = "MODBUS parameters";
  std::string values;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(L::kFrameEnd, at);
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

// Where the custom command setting holds its byte count and its payload.
constexpr size_t kCustomCountAt = L::kSettingPrefix.size() + L::kCustomCommand.FirstOf(L::Kind::Count).at;
constexpr size_t kCustomPayloadAt = L::kSettingPrefix.size() + L::kCustomCommand.FirstOf(L::Kind::Payload).at;

// The length of a module frame at `b`, or 0.
size_t ModuleFrameLength(const uint8_t *b, size_t n, LineDirection direction) {
  const std::string_view text(reinterpret_cast<const char *>(b), n);
  if (direction == LineDirection::Sent) {
    for (L::Form form : {L::Form::Query, L::Form::Setting, L::Form::Factory}) {
      const std::string_view prefix = L::Prefix(form);
      if (!StartsWith(text, prefix)) continue;
      if (form == L::Form::Setting && StartsWith(text.substr(prefix.size()), L::kCustomCommand.begin()->text) &&
          n >= kCustomPayloadAt) {
        // The custom command carries binary payload after its byte count: no closing "#".
        const uint8_t high = b[kCustomCountAt], low = b[kCustomCountAt + 1];
        if (high < '0' || high > '9' || low < '0' || low > '9') return 0;
        const size_t length = kCustomPayloadAt + static_cast<size_t>((high - '0') * 10 + (low - '0'));
        return length <= n ? length : 0;
      }
      const size_t end = text.find(L::kFrameEnd, prefix.size());
      return end == std::string_view::npos ? 0 : end + 1;
    }
    return 0;
  }
  // An answer: the printable run that ends with its last "#".
  size_t end = 0;
  while (end < n && Printable(b[end])) ++end;
  const size_t hash = text.substr(0, end).rfind(L::kFrameEnd);
  return end >= 2 && hash != std::string_view::npos ? hash + 1 : 0;
}

// ------------------------------------------------------------------------------------------------
// HART

// The length of a HART frame at `b` (preambles first), or 0 when none is there whole: a master's
// request going out, an answer or a burst coming in.
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
  namespace A = hart_answer;
  size_t dataAt = 0;
  if (type != hart::kRequestFrame && count >= A::kStatusBytes) {
    t += ", response code " + std::to_string(data[0]) + ", " + DeviceStatus(data[1]);
    dataAt = A::kStatusBytes;
  }
  const bool success = type == hart::kReplyFrame && count >= A::kStatusBytes && data[0] == hart::kSuccess;
  if (success && command == hart::kReadUniqueIdentifier && count >= A::kIdentityLength)
    t += ", manufacturer " + std::to_string(data[A::kManufacturer]) + " type " + std::to_string(data[A::kDeviceType]) +
         " id " +
         std::to_string(uint32_t{data[A::kDeviceId]} << 16 | uint32_t{data[A::kDeviceId + 1]} << 8 | data[A::kDeviceId + 2]);
  else if (success && command == hart::kReadDynamicVariables && count >= A::kFirstVariable + A::kVariableStride) {
    t += ", current " + Float(data + A::kLoopCurrent) + " mA";
    for (size_t v = 0; A::kFirstVariable + A::kVariableStride * (v + 1) <= count; ++v) {
      const uint8_t *var = data + A::kFirstVariable + A::kVariableStride * v;
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
      // The custom command's payload is binary: the frame is shown up to its key.
      const std::string key = std::string(L::kSettingPrefix) + std::string(L::kCustomCommand.begin()->text);
      if (StartsWith(text, key)) f.text = key + "...: " + ModuleRequest(text);
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
  std::string text;
  for (size_t i = 0; i < count; ++i) text += Printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
  return HexRun(bytes, count) + "  " + text;
}

std::string TraceText(const uint8_t *bytes, size_t count, LineDirection direction) {
  return BytesAndText(bytes, count) + "\n      " + DecodeLineText(bytes, count, direction);
}
