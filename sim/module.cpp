#include "sim/module.h"

#include <cstdint>
#include <cstdio>

#include "protocol/hart_codes.h"
#include "protocol/hex.h"
#include "sim/modbus_slave.h"

const char SimModule::kAcknowledge[] = "OK#";
const char SimModule::kRefuse[] = "ERR#";

namespace {

const char *const kBaudRates[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
const char *const kParities[] = {"None", "Odd", "Even"};
constexpr int kBaudCount = sizeof kBaudRates / sizeof kBaudRates[0];
constexpr int kParityCount = sizeof kParities / sizeof kParities[0];
constexpr int kWorkModeCount = 3;
constexpr int kReturnTimeCount = 6;

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(const std::string &text, size_t minLength, size_t maxLength) {
  if (text.size() < minLength || text.size() > maxLength) return false;
  for (char c : text)
    if (!IsDigit(c)) return false;
  return true;
}

// One digit in [0, count), or -1.
int DigitBelow(char c, int count) {
  if (!IsDigit(c)) return -1;
  const int value = c - '0';
  return value < count ? value : -1;
}

// Splits "a,b,c" at every ",".
std::vector<std::string> SplitCommas(const std::string &text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == ',')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

// The name and arguments of "NAME:ARGS#", which must end with its only "#".
bool SplitNamed(const std::string &body, std::string *name, std::string *args) {
  if (body.empty() || body.back() != '#') return false;
  const std::string inner = body.substr(0, body.size() - 1);
  if (inner.find('#') != std::string::npos) return false;
  const size_t colon = inner.find(':');
  if (colon == std::string::npos) return false;
  *name = inner.substr(0, colon);
  *args = inner.substr(colon + 1);
  return true;
}

uint64_t PowerOfTen(int n) {
  uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

}  // namespace

SimModule::SimModule(SimHartOptions hart) : state_(InitialState()), instrument_(hart) {}

SimModuleState SimModule::InitialState() {
  SimModuleState s;
  s.slaveAddress = "001";
  s.workMode = 0;
  s.returnTime = 0;
  s.hartInterval = "010";
  s.baudIndex = 3;
  s.parityIndex = 0;
  s.rangeUpper = "020.00";
  s.rangeLower = "004.00";
  s.totalizerStart = "00000";
  s.cutoff = "0.000";
  s.coefficient = "9999";
  s.lsdInteger = "00000000";
  s.lsdDecimal = "000";
  s.boardSerial = "00000000";
  s.inspector = "001";
  s.coefficientMode = '0';
  s.coefficientFactor = "0.001";
  return s;
}

const char *SimModule::BaudRateText(int index) {
  return index >= 0 && index < kBaudCount ? kBaudRates[index] : "?";
}

const char *SimModule::ParityText(int index) {
  return index >= 0 && index < kParityCount ? kParities[index] : "?";
}

std::optional<std::string> SimModule::FixedWidthNumber(const std::string &text, size_t width,
                                                       int preferredDecimals, bool allowNegative) {
  constexpr size_t kMaxFractionDigits = 9;
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  std::string integerDigits, fractionDigits;
  while (pos < text.size() && IsDigit(text[pos])) integerDigits += text[pos++];
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) fractionDigits += text[pos++];
  }
  if (pos != text.size() || (integerDigits.empty() && fractionDigits.empty())) return std::nullopt;

  const size_t firstSignificant = integerDigits.find_first_not_of('0');
  integerDigits = firstSignificant == std::string::npos ? "" : integerDigits.substr(firstSignificant);
  if (integerDigits.size() > width) return std::nullopt;
  if (fractionDigits.size() > kMaxFractionDigits) fractionDigits.resize(kMaxFractionDigits);

  // The magnitude scaled by 10^given; below 10^(width + 9), so it fits in 64 bits.
  const int given = static_cast<int>(fractionDigits.size());
  uint64_t scaled = 0;
  for (char c : integerDigits + fractionDigits) scaled = scaled * 10 + static_cast<uint64_t>(c - '0');

  const int widest = width > 2 ? static_cast<int>(width) - 2 : 0;
  int decimals = given > preferredDecimals ? given : preferredDecimals;
  if (decimals > widest) decimals = widest;
  for (; decimals >= 0; --decimals) {
    uint64_t magnitude;
    if (decimals >= given) {
      magnitude = scaled * PowerOfTen(decimals - given);
    } else {
      const uint64_t divisor = PowerOfTen(given - decimals);
      magnitude = (scaled + divisor / 2) / divisor;  // half away from zero
    }
    const bool showSign = negative && magnitude != 0;
    if (showSign && !allowNegative) return std::nullopt;
    const uint64_t unit = PowerOfTen(decimals);
    std::string body = std::to_string(magnitude / unit);
    if (decimals > 0) {
      const std::string fraction = std::to_string(magnitude % unit);
      body += "." + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    const size_t used = body.size() + (showSign ? 1 : 0);
    if (used > width) continue;
    body.insert(0, width - used, '0');
    return showSign ? "-" + body : body;
  }
  return std::nullopt;
}

std::vector<uint8_t> SimModule::Answer(const std::vector<uint8_t> &request) {
  const std::string frame(request.begin(), request.end());
  std::string reply;
  if (StartsWith(frame, "QQQ#"))
    reply = AnswerQuery(frame.substr(4));
  else if (StartsWith(frame, "QQS#"))
    reply = AnswerSetting(frame.substr(4));
  else if (StartsWith(frame, "KORVEN#"))
    reply = AnswerFactory(frame.substr(7));
  else if (!request.empty()) {
    // A request to slave 2 starts like a short HART frame; its CRC tells it apart.
    const uint8_t first = request[0];
    const bool hartStart = first == hart::kPreamble || first == hart::kShortRequest || first == hart::kLongRequest;
    const bool modbus = first != hart::kPreamble && ModbusCrcValid(request);
    if (modbus) return AnswerModbusRequest(request, SlaveAddress(), HoldingRegisters());
    if (hartStart && state_.workMode == 0) return instrument_.Answer(request, clock_);
    return {};
  }
  return std::vector<uint8_t>(reply.begin(), reply.end());
}

uint8_t SimModule::SlaveAddress() const {
  int address = 0;
  for (char c : state_.slaveAddress) {
    if (!IsDigit(c)) return 0;
    address = address * 10 + (c - '0');
    if (address > modbus::kMaxSlaveAddress) return 0;
  }
  return static_cast<uint8_t>(address);
}

std::vector<uint16_t> SimModule::HoldingRegisters() const {
  const HartProcessValues values = instrument_.Values(clock_);
  const std::string &formats = state_.meters[0].dataFormats;
  const float published[5] = {values.current, values.variables[0].value, values.variables[1].value,
                              values.variables[2].value, values.variables[3].value};
  std::vector<uint16_t> registers;
  for (size_t i = 0; i < 5; ++i) {
    const int format = i < formats.size() ? formats[i] - '0' : 0;
    const std::array<uint16_t, 2> pair = EncodeRegisterPair(published[i], format);
    registers.insert(registers.end(), pair.begin(), pair.end());
  }
  return registers;
}

std::string SimModule::AnswerQuery(const std::string &body) {
  if (body.empty() || body.back() != '#') return kRefuse;
  const std::string name = body.substr(0, body.size() - 1);
  if (name == "QV") return CommunicationReply();
  if (name == "QX") return SystemParameterReply();
  if (name == "QVAL") return AdChannelReply();
  if (name.size() == 3 && StartsWith(name, "QQ") && IsDigit(name[2])) return MeterReply(name[2] - '0');
  return kRefuse;
}

std::string SimModule::AnswerSetting(const std::string &body) {
  if (body == "RESET#") {
    const SimModuleState initial = InitialState();
    state_.slaveAddress = initial.slaveAddress;
    state_.workMode = initial.workMode;
    state_.returnTime = initial.returnTime;
    state_.hartInterval = initial.hartInterval;
    state_.baudIndex = initial.baudIndex;
    state_.parityIndex = initial.parityIndex;
    return kAcknowledge;
  }

  if (StartsWith(body, "CAMD")) return AnswerCustomCommand(body);

  std::string name, args;
  if (!SplitNamed(body, &name, &args)) return kRefuse;

  if (name == "ADR" || name == "JTM") {
    if (!AllDigits(args, 3, 3)) return kRefuse;
    (name == "ADR" ? state_.slaveAddress : state_.hartInterval) = args;
    return kAcknowledge;
  }
  if (name == "MD" || name == "XY") {
    const int value = args.size() == 1 ? DigitBelow(args[0], name == "MD" ? kWorkModeCount
                                                                          : kReturnTimeCount)
                                       : -1;
    if (value < 0) return kRefuse;
    (name == "MD" ? state_.workMode : state_.returnTime) = value;
    return kAcknowledge;
  }
  if (name == "BA2") {
    if (args.size() != 2) return kRefuse;
    const int baud = DigitBelow(args[0], kBaudCount);
    const int parity = DigitBelow(args[1], kParityCount);
    if (baud < 0 || parity < 0) return kRefuse;
    state_.baudIndex = baud;
    state_.parityIndex = parity;
    return kAcknowledge;
  }
  if (name == "FMW") {
    // Mode 0..3, then exactly five characters of the factor as typed.
    if (args.size() != 7 || DigitBelow(args[0], 4) < 0 || args[1] != ',') return kRefuse;
    for (size_t i = 2; i < args.size(); ++i)
      if (args[i] < 0x20 || args[i] > 0x7E) return kRefuse;
    state_.coefficientMode = args[0];
    state_.coefficientFactor = args.substr(2);
    return kAcknowledge;
  }
  return AnswerMeterSetting(name, args);
}

// "HARTd:e,m,tt,p,sss", "DFOTd:fffff" and "MDBSd:a,caal,caal,caal,caal".
std::string SimModule::AnswerMeterSetting(const std::string &name, const std::string &args) {
  if (name.size() != 5 || !IsDigit(name[4])) return kRefuse;
  SimMeterSettings &meter = state_.meters[static_cast<size_t>(name[4] - '0')];
  const std::string key = name.substr(0, 4);

  if (key == "HART") {
    if (args.size() != 12 || args[1] != ',' || args[3] != ',' || args[6] != ',' || args[8] != ',')
      return kRefuse;
    if (DigitBelow(args[0], 2) < 0 || DigitBelow(args[2], 2) < 0) return kRefuse;
    const std::string meterType = args.substr(4, 2);
    if (!AllDigits(meterType, 2, 2) || std::stoi(meterType) > 15) return kRefuse;
    if (args[7] < '4' || args[7] > '9') return kRefuse;
    const std::string clearTime = args.substr(9, 3);
    if (!AllDigits(clearTime, 3, 3)) return kRefuse;
    meter.enabled = args[0];
    meter.deviceMode = args[2];
    meter.meterType = meterType;
    meter.preamble = args[7];
    meter.clearTime = clearTime;
    return kAcknowledge;
  }
  if (key == "DFOT") {
    // The current is published as a float only.
    if (args.size() != 5 || DigitBelow(args[0], 2) < 0) return kRefuse;
    for (size_t i = 1; i < 5; ++i)
      if (DigitBelow(args[i], 4) < 0) return kRefuse;
    meter.dataFormats = args;
    return kAcknowledge;
  }
  if (key == "MDBS") {
    if (args.size() != 21 || args[0] < '3' || args[0] > '9') return kRefuse;
    for (size_t record = 0; record < 4; ++record) {
      const size_t at = 1 + 5 * record;
      if (args[at] != ',' || DigitBelow(args[at + 1], 3) < 0 || !IsDigit(args[at + 2]) ||
          !IsDigit(args[at + 3]) || DigitBelow(args[at + 4], 2) < 0)
        return kRefuse;
    }
    meter.customFormat = args;
    return kAcknowledge;
  }
  return kRefuse;
}

// The custom HART read commands end with binary payload, not "#":
// "CAMD" d ("1"|"2") ":" e "<" nn "," and then nn bytes.
std::string SimModule::AnswerCustomCommand(const std::string &body) {
  const size_t header = 12;  // up to and including the ","
  if (body.size() < header || !IsDigit(body[4]) || (body[5] != '1' && body[5] != '2') ||
      body[6] != ':' || DigitBelow(body[7], 2) < 0 || body[8] != '<' || !IsDigit(body[9]) ||
      !IsDigit(body[10]) || body[11] != ',')
    return kRefuse;
  const size_t count = static_cast<size_t>((body[9] - '0') * 10 + (body[10] - '0'));
  if (count > kMaxCustomCommandBytes || body.size() != header + count) return kRefuse;
  SimMeterSettings::CustomCommand &command =
      state_.meters[static_cast<size_t>(body[4] - '0')].commands[body[5] == '1' ? 0 : 1];
  command.enabled = body[7];
  command.bytes.assign(body.begin() + header, body.end());
  return kAcknowledge;
}

std::string SimModule::AnswerFactory(const std::string &body) {
  std::string name, args;
  if (!SplitNamed(body, &name, &args)) return kRefuse;

  if (name == "AIN1") {
    const std::vector<std::string> parts = SplitCommas(args);
    if (parts.size() != 3) return kRefuse;
    const auto upper = FixedWidthNumber(parts[0], 6, 2, true);
    const auto lower = FixedWidthNumber(parts[1], 6, 2, true);
    const auto start = FixedWidthNumber(parts[2], 5, 0, true);
    if (!upper || !lower || !start) return kRefuse;
    state_.rangeUpper = *upper;
    state_.rangeLower = *lower;
    state_.totalizerStart = *start;
    return kAcknowledge;
  }
  if (name == "ZOM") {
    const auto cutoff = FixedWidthNumber(args, 5, 3, false);
    if (!cutoff) return kRefuse;
    state_.cutoff = *cutoff;
    return kAcknowledge;
  }
  if (name == "ADX") {
    // Four digits at most: the reply has four places for the coefficient.
    if (!AllDigits(args, 1, 10)) return kRefuse;
    const auto coefficient = FixedWidthNumber(args, 4, 0, false);
    if (!coefficient) return kRefuse;
    state_.coefficient = *coefficient;
    return kAcknowledge;
  }
  if (name == "LPN") {
    if (!AllDigits(args, 1, 10) || std::stoull(args) > UINT32_MAX) return kRefuse;
    state_.lsdInteger = args;
    return kAcknowledge;
  }
  if (name == "LPF") {
    if (!AllDigits(args, 1, 3)) return kRefuse;
    state_.lsdDecimal = args;
    return kAcknowledge;
  }
  if (name == "PCBSN") {
    const std::vector<std::string> parts = SplitCommas(args);
    if (parts.size() != 2 || !AllDigits(parts[0], 1, 10) || !AllDigits(parts[1], 1, 10))
      return kRefuse;
    state_.boardSerial = parts[0];
    state_.inspector = parts[1];
    return kAcknowledge;
  }
  return kRefuse;
}

std::string SimModule::CommunicationReply() const { return "QV:RQ735 SIM V1.0#"; }

std::string SimModule::SystemParameterReply() const {
  const SimModuleState &s = state_;
  std::string reply = "QX#";
  reply += "BA2:" + std::to_string(s.baudIndex) + std::to_string(s.parityIndex) + "#";
  reply += "MD:" + std::to_string(s.workMode) + "#";
  reply += "ADR:" + s.slaveAddress + "#";
  reply += "XY:" + std::to_string(s.returnTime) + "#";
  reply += "JTM:" + s.hartInterval + "#";
  reply += "AIN:" + s.rangeUpper + "," + s.rangeLower + "," + s.totalizerStart + "#";
  reply += "ZOM:" + s.cutoff + "#";
  reply += "ADX:" + s.coefficient + "#";
  return reply;  // about 80 bytes: every field has a fixed width
}

std::string SimModule::MeterReply(int device) const {
  const char digit = static_cast<char>('0' + device);
  const SimMeterSettings &m = state_.meters[static_cast<size_t>(device)];
  std::string reply = "QQ";
  reply += digit;
  reply += "#HART";
  reply += digit;
  reply += ':';
  reply += m.enabled;
  reply += ',';
  reply += m.deviceMode;
  reply += "," + m.meterType + ",";
  reply += m.preamble;
  reply += "," + m.clearTime + "#";
  reply += "DFO";
  reply += digit;
  reply += ":" + m.dataFormats + "#";
  reply += "ZDY";
  reply += digit;
  reply += ":" + m.customFormat + "#";
  reply += "MD:" + std::to_string(state_.workMode) + "#";
  for (size_t i = 0; i < m.commands.size(); ++i) {
    const SimMeterSettings::CustomCommand &command = m.commands[i];
    char head[64];  // room for any two numbers, so that nothing can be cut
    std::snprintf(head, sizeof head, "CAMD%c%zu:%c<%02zu,", digit, i + 1, command.enabled, command.bytes.size());
    reply += head;
    reply += HexRun(command.bytes.data(), command.bytes.size());
    reply += "#";
  }
  // Last: the factor is free text and must not stand before another group's key.
  reply += "FMW:";
  reply += state_.coefficientMode;
  reply += "," + state_.coefficientFactor + "#";
  return reply;  // at most 186 bytes, with both custom commands at 14 bytes
}

std::string SimModule::AdChannelReply() const {
  // A steady 12 mA input on AD1, as raw count of a 16-bit converter over 0..24 mA and in mA.
  return "QVAL:AD1:32768,12.000mA#";
}
