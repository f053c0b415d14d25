#include "protocol/line_decoder.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

#include "protocol/byte_loop.h"
#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "protocol/hart_commands.h"
#include "protocol/hart_reply.h"
#include "protocol/hex.h"
#include "protocol/modbus_codes.h"
#include "protocol/modbus_rtu.h"
#include "protocol/module_layouts.h"
#include "protocol/number_format.h"

namespace {

namespace L = module_layout;

constexpr std::string_view kEntrySeparator = " | ";

// The decoded texts are appended to one string, the line that holds every entry's: the monitor
// decodes every delivery, and the fuzz targets decode millions.

RQ735_BYTE_LOOP void AppendNumber(std::string &out, uint64_t value) {
  char digits[20];
  char *const end = digits + sizeof digits;
  char *first = end;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(first, end);
}

// A number in decimal, a byte in hexadecimal, as pieces of Append.
struct Dec {
  uint64_t value;
};
struct Hex {
  uint8_t value;
};
void Put(std::string &t, std::string_view text) { t += text; }
void Put(std::string &t, char c) { t += c; }
void Put(std::string &t, Dec d) { AppendNumber(t, d.value); }
void Put(std::string &t, Hex h) { AppendHex(t, h.value); }
template <typename... Pieces>
void Append(std::string &t, const Pieces &...pieces) {
  (Put(t, pieces), ...);
}


// The first characters are compared alone first: most texts differ there, and that is cheaper
// than a whole comparison.
bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && (prefix.empty() || text[0] == prefix[0]) &&
         std::char_traits<char>::compare(text.data(), prefix.data(), prefix.size()) == 0;
}

// ------------------------------------------------------------------------------------------------
// The module's command language

const char *kReturnTimes[] = {"50 ms", "100 ms", "200 ms", "300 ms", "400 ms", "500 ms"};
const char *kBauds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
const char *kParities[] = {"none", "odd", "even"};
const char *kModes[] = {"transparent", "MODBUS single instrument", "MODBUS multiple"};

// An item of a list by its digit, or the digit quoted where the list has none.
struct Item {
  const char *name;  // nullptr: none
  char digit;
};
void Put(std::string &t, Item item) {
  if (item.name) t += item.name;
  else Append(t, '\'', item.digit, '\'');
}
template <size_t N>
Item Named(const char *(&names)[N], std::string_view digit) {
  const char c = digit.empty() ? '?' : digit[0];
  const int i = c - '0';
  return Item{i >= 0 && static_cast<size_t>(i) < N ? names[i] : nullptr, c};
}

std::string_view Number(std::string_view digits) {
  size_t i = 0;
  while (i + 1 < digits.size() && digits[i] == '0') ++i;
  return digits.substr(i);
}

std::string_view Unterminated(std::string_view frame) {
  return !frame.empty() && frame.back() == L::kFrameEnd ? frame.substr(0, frame.size() - 1) : frame;
}

// A frame's values, where its layout puts them.
class Values {
 public:
  Values(std::string_view text, const L::Layout &layout) : text_(text), layout_(layout) {}
  std::string_view operator[](size_t value) const { return L::ValueText(text_, 0, layout_.Value(value)); }
  // What follows the key.
  std::string_view Arguments() const { return text_.substr(layout_.KeyLength()); }

 private:
  std::string_view text_;
  const L::Layout &layout_;
};

// What the requests ask for, appended to `t`.
void QueryRequest(std::string &t, std::string_view name) {
  if (L::Matches(name, L::kCommunicationQuery)) return Append(t, "communication query");
  if (L::Matches(name, L::kSystemParameterQuery)) return Append(t, "system parameter query");
  if (L::Matches(name, L::kAdChannelQuery)) return Append(t, "AD channel query");
  if (L::Matches(name, L::kMeterQuery)) return Append(t, "MODBUS parameter query of meter ", Values(name, L::kMeterQuery)[0]);
  Append(t, "query");
}

void SettingRequest(std::string &t, std::string_view s) {
  if (L::Matches(s, L::kCustomCommand)) {
    const Values v(s, L::kCustomCommand);
    return Append(t, "set meter ", v[0], " custom command ", v[1], ": ", v[2] == "1" ? "on" : "off", ", ", Number(v[3]),
                  " bytes");
  }
  s = Unterminated(s);
  if (L::Matches(s, L::kParameterReset)) return Append(t, "parameter initialization");
  if (L::Matches(s, L::kSlaveAddress)) return Append(t, "set MODBUS slave address to ", Number(Values(s, L::kSlaveAddress)[0]));
  if (L::Matches(s, L::kWorkingMode)) return Append(t, "set working mode to ", Named(kModes, Values(s, L::kWorkingMode)[0]));
  if (L::Matches(s, L::kReturnTime))
    return Append(t, "set RS485 return time to ", Named(kReturnTimes, Values(s, L::kReturnTime)[0]));
  if (L::Matches(s, L::kHartInterval))
    return Append(t, "set HART interval to ", Number(Values(s, L::kHartInterval)[0]), "0 ms");
  if (L::Matches(s, L::kLineSetting)) {
    const Values v(s, L::kLineSetting);
    return Append(t, "set RS485 line to ", Named(kBauds, v[0]), " baud, parity ", Named(kParities, v[1]));
  }
  if (L::Matches(s, L::kMeterProfile)) {
    const Values v(s, L::kMeterProfile);
    return Append(t, "set meter ", v[0], " profile: ", v[1] == "1" ? "enabled" : "disabled", ", ",
                  v[2] == "1" ? "master" : "secondary master", ", type ", Number(v[3]), ", ", v[4],
                  " preambles, buffer clear time ", Number(v[5]), " s");
  }
  if (L::Matches(s, L::kDataFormat)) {
    const Values v(s, L::kDataFormat);
    return Append(t, "set meter ", v[0], " data formats ", v[1], v[2], v[3], v[4], v[5]);
  }
  if (L::Matches(s, L::kCoefficient)) {
    const Values v(s, L::kCoefficient);
    return Append(t, "set variable 1 coefficient: mode ", v[0], ", factor ", v[1]);
  }
  if (L::Matches(s, L::kParsingFormat))
    return Append(t, "set meter ", Values(s, L::kParsingFormat)[0], " custom parsing format");
  Append(t, "setting");
}

void FactoryRequest(std::string &t, std::string_view s) {
  s = Unterminated(s);
  if (L::Matches(s, L::kTotalizer))
    return Append(t, "set totalizer (URV, LRV, starting point) to ", Values(s, L::kTotalizer).Arguments());
  if (L::Matches(s, L::kCutoff)) return Append(t, "set low-flow cut-off to ", Values(s, L::kCutoff).Arguments());
  if (L::Matches(s, L::kIntegerLsd)) return Append(t, "set integer LSD to ", Values(s, L::kIntegerLsd).Arguments());
  if (L::Matches(s, L::kDecimalLsd)) return Append(t, "set decimal LSD to ", Values(s, L::kDecimalLsd).Arguments());
  if (L::Matches(s, L::kCoefficientFactor))
    return Append(t, "set coefficient to ", Values(s, L::kCoefficientFactor).Arguments(), "/10000");
  if (L::Matches(s, L::kBoardData))
    return Append(t, "set board serial number and inspector to ", Values(s, L::kBoardData).Arguments());
  Append(t, "factory command");
}

// What a request of the module's language asks for.
void ModuleRequest(std::string &t, std::string_view frame) {
  if (StartsWith(frame, L::kQueryPrefix)) return QueryRequest(t, Unterminated(frame.substr(L::kQueryPrefix.size())));
  if (StartsWith(frame, L::kSettingPrefix)) return SettingRequest(t, frame.substr(L::kSettingPrefix.size()));
  if (StartsWith(frame, L::kFactoryPrefix)) return FactoryRequest(t, frame.substr(L::kFactoryPrefix.size()));
  Append(t, "text");
}

// A reply of the module's language: its marker named, its keyed values listed.
void ModuleReply(std::string &out, std::string_view text) {
  out.reserve(out.size() + 20 + 2 * text.size());
  if (StartsWith(text, L::kCommunicationReplyMarker)) out += "communication reply";
  else if (StartsWith(text, L::kSystemReplyMarker)) out += "system parameters";
  else if (StartsWith(text, L::kMeterReplyMarker)) out += "MODBUS parameters";
  else out += "answer";
  bool first = true;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(L::kFrameEnd, at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view field = text.substr(at, end - at);
    if (!field.empty()) {
      out += first ? ": " : ", ";
      first = false;
      const size_t colon = field.find(':');
      if (colon == std::string_view::npos) {
        out += field;
      } else {
        out += field.substr(0, colon);
        out += '=';
        out += field.substr(colon + 1);
      }
    }
    at = end + 1;
  }
}

// Where the custom command setting holds its byte count and its payload.
constexpr size_t kCustomCountAt = L::kSettingPrefix.size() + L::kCustomCommand.FirstOf(L::Kind::Count).at;
constexpr size_t kCustomPayloadAt = L::kSettingPrefix.size() + L::kCustomCommand.FirstOf(L::Kind::Payload).at;

// Where a module frame starts in the bytes. It is asked at each offset in turn, so what it learns
// of a printable run serves every offset inside the run.
class ModuleFinder {
 public:
  ModuleFinder(const uint8_t *bytes, size_t count) : bytes_(bytes), count_(count) {}

  // The length of a request or of an answer at `at`, or 0.
  size_t Request(size_t at) const;
  size_t Answer(size_t at);
  // False where Answer is sure to find none: inside the printable run it last looked at, past the
  // offsets at which its answers start.
  bool MayStartAnswer(size_t at) const { return at < framesEnd_ || at >= printableEnd_; }

 private:
  const uint8_t *bytes_;
  size_t count_;
  // The printable run that holds the last offset asked, its last "#", and the end of the offsets
  // at which an answer starts.
  size_t printableEnd_ = 0, lastHash_ = 0, framesEnd_ = 0;
};

// The bytes that can begin a request: the first characters of the prefixes.
constexpr std::array<bool, 256> RequestStarts() {
  std::array<bool, 256> starts{};
  for (L::Form form : {L::Form::Query, L::Form::Setting, L::Form::Factory})
    starts[static_cast<uint8_t>(L::Prefix(form)[0])] = true;
  return starts;
}
constexpr std::array<bool, 256> kRequestStarts = RequestStarts();

size_t ModuleFinder::Request(size_t at) const {
  const uint8_t *b = bytes_ + at;
  if (!kRequestStarts.data()[*b]) return 0;
  const size_t n = count_ - at;
  const std::string_view text(reinterpret_cast<const char *>(b), n);
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

// Where the printable run from `at` ends, and its last "#" (left alone when none).
RQ735_BYTE_LOOP size_t PrintableRun(const uint8_t *bytes, size_t at, size_t count, size_t *lastHash) {
  for (; at < count && IsPrintable(bytes[at]); ++at)
    if (bytes[at] == L::kFrameEnd) *lastHash = at;
  return at;
}

// An answer: the printable run that ends with its last "#".
size_t ModuleFinder::Answer(size_t at) {
  if (at >= printableEnd_) {
    if (!IsPrintable(bytes_[at])) return 0;
    size_t lastHash = count_;
    printableEnd_ = PrintableRun(bytes_, at, count_, &lastHash);
    // An answer is two characters or more: one starts at each offset up to the last "#", or the
    // one before it when the run ends there.
    lastHash_ = lastHash;
    framesEnd_ = lastHash == count_ ? at : printableEnd_ - lastHash >= 2 ? lastHash + 1 : lastHash;
  }
  return at < framesEnd_ ? lastHash_ - at + 1 : 0;
}

// ------------------------------------------------------------------------------------------------
// HART

// A delimiter that starts a frame going that way: a master's request going out, an answer or a
// burst coming in.
constexpr bool StartsHartFrame(unsigned delimiter, LineDirection direction) {
  const unsigned type = delimiter & hart::kFrameTypeMask;
  return (delimiter & hart::kDelimiterReservedMask) == 0 &&
         (direction == LineDirection::Sent ? type == hart::kRequestFrame
                                           : type == hart::kBurstFrame || type == hart::kReplyFrame);
}
template <LineDirection D>
constexpr std::array<bool, 256> HartDelimiters() {
  std::array<bool, 256> delimiters{};
  for (unsigned b = 0; b < 256; ++b) delimiters[b] = StartsHartFrame(b, D);
  return delimiters;
}
constexpr std::array<bool, 256> kSentDelimiters = HartDelimiters<LineDirection::Sent>();
constexpr std::array<bool, 256> kReceivedDelimiters = HartDelimiters<LineDirection::Received>();

// The length of a HART frame that starts at `b` with `p` preamble bytes, or 0 when none is there
// whole.
size_t HartFrameLength(const uint8_t *b, size_t n, size_t p, LineDirection direction) {
  // An instrument always sends preambles; only a request typed by hand may have none.
  if (p + 1 > n || (direction == LineDirection::Received && p < 2)) return 0;
  const uint8_t delimiter = b[p];
  if (!(direction == LineDirection::Sent ? kSentDelimiters : kReceivedDelimiters).data()[delimiter]) return 0;
  const size_t address = (delimiter & hart::kLongAddressFrame) ? hart::kLongAddressLength : hart::kShortAddressLength;
  const size_t countAt = p + 1 + address + 1;
  if (countAt >= n) return 0;
  const size_t total = countAt + 1 + b[countAt] + 1;
  return total > n ? 0 : total;
}

// How many preamble bytes `b` starts with.
RQ735_BYTE_LOOP size_t PreambleRun(const uint8_t *b, size_t n) {
  size_t p = 0;
  while (p < n && b[p] == hart::kPreamble) ++p;
  return p;
}

// " (name)", or nothing for a code without a name.
void AppendName(std::string &t, const char *name) {
  if (*name) Append(t, " (", name, ')');
}

void AppendDeviceStatus(std::string &t, uint8_t status) {
  if (status == 0) return Append(t, "device status 00");
  Append(t, "device status ", Hex{status}, " (");
  const char *separator = "";
  for (unsigned bit = 0x80; bit != 0; bit >>= 1) {
    if (!(status & bit)) continue;
    Append(t, separator, hart::DeviceStatusBitName(static_cast<uint8_t>(bit)));
    separator = ", ";
  }
  t += ')';
}

void AppendFloat(std::string &t, const uint8_t *v) {
  if (v[0] == hart::kNotANumberFirstByte) t += "NaN";
  else AppendGeneral(t, FloatFromBytes(v[0], v[1], v[2], v[3]));
}

void AppendIdentity(std::string &t, unsigned manufacturer, uint8_t type, const uint8_t *id) {
  Append(t, ", manufacturer ", Dec{manufacturer}, " type ", Dec{type}, " id ",
         Dec{uint32_t{id[0]} << 16 | uint32_t{id[1]} << 8 | id[2]});
}

void AppendValue(std::string &t, float value) {
  if (std::isfinite(value)) AppendGeneral(t, value);
  else t += "NaN";
}

void AppendValueIn(std::string &t, float value, uint8_t unit) {
  AppendValue(t, value);
  Append(t, ' ', UnitName(UnitPosition(unit)));
}

void AppendQuoted(std::string &t, std::string_view text) { Append(t, '"', text, '"'); }

// The fields of a command's data, read by the command's own parser: a request's data as it goes,
// a reply's after its status bytes. The writes answer with what they were sent, so one parser
// reads both. False for a command without a parser here.
bool AppendCommandFields(std::string &t, uint8_t command, bool request, ByteView d, std::string *problem) {
  using namespace hart;
  switch (command) {
    case kReadPrimaryVariable:
      if (const auto v = ParsePrimaryVariable(d, problem)) {
        t += ", primary variable ";
        AppendValueIn(t, v->value, v->unit);
      }
      return true;
    case kReadLoopCurrentAndPercent:
      if (const auto v = ParseLoopCurrent(d, problem)) {
        t += ", loop current ";
        AppendValue(t, v->milliamperes);
        t += " mA, ";
        AppendValue(t, v->percentOfRange);
        t += " % of range";
      }
      return true;
    case kWritePollingAddress:
      if (const auto v = ParsePollingAddress(d, problem)) Append(t, ", polling address ", Dec{*v});
      return true;
    case kReadDeviceVariablesWithStatus:
      if (request) {
        t += ", device variables";
        for (uint8_t code : d) Append(t, ' ', Dec{code});
      } else if (const auto v = ParseDeviceVariables(d, problem)) {
        Append(t, ", extended device status ", Hex{v->extendedStatus});
        for (const HartDeviceVariable &variable : v->variables) {
          Append(t, ", variable ", Dec{variable.code}, ' ');
          AppendValueIn(t, variable.value, variable.unit);
          Append(t, " status ", Hex{variable.status});
        }
        if (v->timeStamp) Append(t, ", time stamp ", Dec{*v->timeStamp});
      }
      return true;
    case kReadMessage:
    case kWriteMessage:
      if (const auto v = ParseMessage(d, problem)) {
        t += ", message ";
        AppendQuoted(t, *v);
      }
      return true;
    case kReadTagDescriptorDate:
    case kWriteTagDescriptorDate:
      if (const auto v = ParseTagDescriptorDate(d, problem)) {
        t += ", tag ";
        AppendQuoted(t, v->tag);
        t += ", descriptor ";
        AppendQuoted(t, v->descriptor);
        Append(t, ", date ", IsoDateText(v->date));
        if (!DateProblem(v->date).empty()) t += " (no day of the calendar)";
      }
      return true;
    case kReadTransducerInformation:
      if (const auto v = ParseTransducerInformation(d, problem)) {
        Append(t, ", transducer serial number ", Dec{v->serialNumber}, ", upper limit ");
        AppendValueIn(t, v->upperLimit, v->unit);
        t += ", lower limit ";
        AppendValueIn(t, v->lowerLimit, v->unit);
        t += ", minimum span ";
        AppendValueIn(t, v->minimumSpan, v->unit);
      }
      return true;
    case kReadDeviceInformation:
      if (const auto v = ParseDeviceInformation(d, problem)) {
        Append(t, ", alarm selection ", Dec{v->alarmSelection}, ", transfer function ", Dec{v->transferFunction},
               ", upper range ");
        AppendValueIn(t, v->upperRange, v->rangeUnit);
        t += ", lower range ";
        AppendValueIn(t, v->lowerRange, v->rangeUnit);
        t += ", damping ";
        AppendValue(t, v->damping);
        t += " s, ";
        if (v->writeProtect == kWriteProtected) t += "write protected";
        else if (v->writeProtect == kNotWriteProtected) t += "not write protected";
        else Append(t, "write protect ", Dec{v->writeProtect});
        Append(t, ", private label distributor ", Dec{v->privateLabelDistributor});
        if (v->analogChannelFlags) Append(t, ", analog channel flags ", Hex{*v->analogChannelFlags});
      }
      return true;
    case kReadFinalAssemblyNumber:
    case kWriteFinalAssemblyNumber:
      if (const auto v = ParseFinalAssemblyNumber(d, problem)) Append(t, ", final assembly number ", Dec{*v});
      return true;
    case kReadLongTag:
    case kWriteLongTag:
      if (const auto v = ParseLongTag(d, problem)) {
        t += ", long tag ";
        AppendQuoted(t, *v);
      }
      return true;
    case kWriteDampingValue:
      if (const auto v = ParseDamping(d, problem)) {
        t += ", damping ";
        AppendValue(t, *v);
        t += " s";
      }
      return true;
    case kWriteRangeValues:
      if (const auto v = ParseRangeValues(d, problem)) {
        t += ", upper range ";
        AppendValueIn(t, v->upper, v->unit);
        t += ", lower range ";
        AppendValueIn(t, v->lower, v->unit);
      }
      return true;
    case kResetConfigurationChanged:
      if (const auto v = ParseConfigurationReset(d, problem); v && v->counter)
        Append(t, ", configuration change counter ", Dec{*v->counter});
      return true;
    case kEnterExitFixedCurrent:
      if (const auto v = ParseFixedCurrent(d, problem)) {
        t += ", fixed current ";
        AppendValue(t, *v);
        t += *v == kLeaveFixedCurrent ? " mA (leave fixed current mode)" : " mA";
      }
      return true;
    case kWritePrimaryVariableUnits:
      if (const auto v = ParsePrimaryVariableUnits(d, problem))
        Append(t, ", primary variable unit ", UnitName(UnitPosition(*v)), " (code ", Dec{*v}, ')');
      return true;
    case kReadAdditionalDeviceStatus:
      if (const auto v = ParseAdditionalDeviceStatus(d, problem)) {
        t += ", additional device status ";
        AppendHexRun(t, v->data(), v->size());
      }
      return true;
    case kWriteResponsePreambles:
      if (const auto v = ParseResponsePreambles(d, problem)) Append(t, ", response preambles ", Dec{*v});
      return true;
    default: return false;
  }
}

// Appends the fields of a command's data; bytes no parser reads here, or that their parser
// refuses, are shown in hexadecimal (with the parser's reason).
void AppendCommandData(std::string &t, uint8_t command, bool request, const uint8_t *data, size_t count) {
  // The parsers read replies; a request carries the same fields only where the command writes.
  const HartCommandInfo *info = FindHartCommand(command);
  const bool carries = info && (info->requestBytes > 0 || command == hart::kResetConfigurationChanged);
  std::string problem;
  if (request && !carries) {
    if (count == 0) return;
  } else if (AppendCommandFields(t, command, request, ByteView(data, count), &problem) && problem.empty()) {
    return;
  }
  t += ", data ";
  if (count == 0) t += "none";
  AppendHexRun(t, data, count);
  if (!problem.empty()) Append(t, " (", problem, ')');
}

// Appends what the frame says; true when its checksum is wrong.
bool DescribeHart(std::string &t, const uint8_t *b, size_t length, size_t preambles) {
  namespace A = hart_answer;
  const uint8_t delimiter = b[preambles];
  const uint8_t type = delimiter & hart::kFrameTypeMask;
  const bool longFrame = delimiter & hart::kLongAddressFrame;
  const uint8_t *a = b + preambles + 1;
  t.reserve(t.size() + 160 + 3 * length);
  Append(t, type == hart::kRequestFrame ? "HART request, " : type == hart::kReplyFrame ? "HART reply, " : "HART burst, ",
         Dec{preambles}, longFrame ? " preambles, long frame, " : " preambles, short frame, ",
         (a[0] & hart::kPrimaryMaster) ? "primary master" : "secondary master");
  if (longFrame) AppendIdentity(t, a[0] & hart::kAddressMask, a[1], a + 2);
  else Append(t, ", polling address ", Dec{static_cast<unsigned>(a[0] & hart::kAddressMask)});
  const size_t commandAt = preambles + 1 + (longFrame ? hart::kLongAddressLength : hart::kShortAddressLength);
  const uint8_t command = b[commandAt];
  const size_t count = b[commandAt + 1];
  const uint8_t *data = b + commandAt + 2;
  Append(t, ", command ", Dec{command});
  AppendName(t, hart::CommandName(command));
  Append(t, ", ", Dec{count}, " data bytes");
  size_t dataAt = 0;
  if (type != hart::kRequestFrame && count >= A::kStatusBytes) {
    Append(t, ", response code ", Dec{data[0]}, ", ");
    AppendDeviceStatus(t, data[1]);
    dataAt = A::kStatusBytes;
  }
  const bool success = type == hart::kReplyFrame && count >= A::kStatusBytes && data[0] == hart::kSuccess;
  if (success && command == hart::kReadUniqueIdentifier && count >= A::kIdentityLength) {
    AppendIdentity(t, data[A::kManufacturer], data[A::kDeviceType], data + A::kDeviceId);
  } else if (success && command == hart::kReadDynamicVariables && count >= A::kFirstVariable + A::kVariableStride) {
    t += ", current ";
    AppendFloat(t, data + A::kLoopCurrent);
    t += " mA";
    for (size_t v = 0; A::kFirstVariable + A::kVariableStride * (v + 1) <= count; ++v) {
      const uint8_t *variable = data + A::kFirstVariable + A::kVariableStride * v;
      Append(t, ", variable ", Dec{v + 1}, ' ');
      AppendFloat(t, variable + 1);
      Append(t, ' ', UnitName(UnitPosition(variable[0])));
    }
  } else if (type == hart::kRequestFrame || (dataAt != 0 && (data[0] == hart::kSuccess || hart::IsWarningCode(data[0])))) {
    AppendCommandData(t, command, type == hart::kRequestFrame, data + dataAt, count - dataAt);
  } else if (count > dataAt) {
    t += ", data ";
    AppendHexRun(t, data + dataAt, count - dataAt);
  }
  const uint8_t expected = HartChecksum(b + preambles, length - preambles - 1);
  const uint8_t received = b[length - 1];
  Append(t, ", checksum ", Hex{received});
  if (received == expected) t += " ok";
  else Append(t, " wrong, expected ", Hex{expected});
  return received != expected;
}

// ------------------------------------------------------------------------------------------------
// MODBUS RTU

// The CRC at the end of `length` (4 or more) bytes holds.
[[gnu::always_inline]] inline bool CrcOk(const uint8_t *b, size_t length) {
  return Crc16(b, length - 2).Value() == static_cast<uint16_t>(b[length - 2] | b[length - 1] << 8);
}

// The length of a MODBUS RTU frame by its function code, in each direction: a fixed length, or
// (a read answer) the overhead plus the byte count after the code; 0 where the code starts none.
struct ModbusLengths {
  uint8_t sent[256] = {}, received[256] = {};
  uint8_t receivedCounted[256] = {};  // 1 where the byte count adds
};
constexpr ModbusLengths MakeModbusLengths() {
  ModbusLengths lengths;
  for (unsigned f = 1; f < 256; ++f) {
    const bool exception = f & modbus::kExceptionBit;
    lengths.sent[f] = exception ? modbus::kExceptionAnswerLength : modbus::kRequestLength;
    if (exception) {
      lengths.received[f] = modbus::kExceptionAnswerLength;
    } else if (f >= modbus::kReadCoils && f <= modbus::kReadInputRegisters) {
      lengths.received[f] = modbus::kReadAnswerOverhead;
      lengths.receivedCounted[f] = 1;
    } else if (f == modbus::kWriteSingleCoil || f == modbus::kWriteSingleRegister || f == modbus::kWriteMultipleCoils ||
               f == modbus::kWriteMultipleRegisters) {
      lengths.received[f] = modbus::kRequestLength;
    }
  }
  return lengths;
}
constexpr ModbusLengths kModbusLengths = MakeModbusLengths();
constexpr uint8_t kNotCounted[256] = {};

// The length of a MODBUS RTU frame at `b` whose CRC holds, or 0. `lengths` and `counted` are the
// tables of the direction. Inlined, so that it is instrumented for coverage where its caller is.
[[gnu::always_inline]] inline size_t ModbusFrameLength(const uint8_t *b, size_t n, const uint8_t *lengths,
                                                       const uint8_t *counted) {
  if (n < 4) return 0;
  const size_t length = lengths[b[1]] + counted[b[1]] * size_t{b[2]};
  // 0 < length <= n in one comparison: length 0 wraps round.
  return length - 1 < n && CrcOk(b, length) ? length : 0;
}

// Appends what the frame says; true when its CRC is wrong.
bool DescribeModbus(std::string &t, const uint8_t *b, size_t length, LineDirection direction) {
  const uint8_t function = b[1];
  t.reserve(t.size() + 96 + 6 * length);
  Append(t, direction == LineDirection::Sent ? "MODBUS request: slave " : "MODBUS answer: slave ", Dec{b[0]},
         ", function ", Dec{static_cast<uint8_t>(function & ~modbus::kExceptionBit)});
  AppendName(t, modbus::FunctionName(function));
  if (function & modbus::kExceptionBit) {
    Append(t, ", exception ", Dec{b[2]});
    AppendName(t, modbus::ExceptionName(b[2]));
  } else if (direction == LineDirection::Sent && length == modbus::kRequestLength) {
    Append(t, ", start ", Dec{static_cast<unsigned>(b[2] << 8 | b[3])}, ", count ",
           Dec{static_cast<unsigned>(b[4] << 8 | b[5])});
  } else if (length >= modbus::kReadAnswerOverhead && function >= modbus::kReadCoils &&
             function <= modbus::kReadInputRegisters) {
    Append(t, ", ", Dec{b[2]}, " bytes");
    if (function >= modbus::kReadHoldingRegisters) {
      t += ", registers";
      for (size_t i = 3; i + 1 < length - 2; i += 2) Append(t, ' ', Dec{static_cast<unsigned>(b[i] << 8 | b[i + 1])});
    }
  } else {
    t += ", ";
    AppendHexRun(t, b + 2, length - 4);
  }
  const uint16_t expected = Crc16(b, length - 2).Value();
  const bool ok = expected == static_cast<uint16_t>(b[length - 2] | b[length - 1] << 8);
  Append(t, ", CRC ", Hex{b[length - 2]}, ' ', Hex{b[length - 1]});
  if (ok) t += " ok";
  else Append(t, " wrong, expected ", Hex{static_cast<uint8_t>(expected & 0xFF)}, ' ', Hex{static_cast<uint8_t>(expected >> 8)});
  return !ok;
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

void DescribeModule(std::string &t, const uint8_t *b, size_t length, LineDirection direction) {
  const std::string_view text(reinterpret_cast<const char *>(b), length);
  const bool customCommand = StartsWith(text, L::kSettingPrefix) &&
                             StartsWith(text.substr(L::kSettingPrefix.size()), L::kCustomCommand.begin()->text);
  if (customCommand) {
    // Its payload is binary: the frame is shown up to its key.
    t.append(L::kSettingPrefix).append(L::kCustomCommand.begin()->text).append("...: ");
    ModuleRequest(t, text);
  } else if (direction == LineDirection::Sent) {
    t.reserve(t.size() + 2 * length + 64);
    t.append(text).append(": ");
    ModuleRequest(t, text);
  } else {
    ModuleReply(t, text);
  }
}

void DescribeNoise(std::string &t, const uint8_t *b, size_t length) {
  t.reserve(t.size() + 24 + 3 * length);
  Append(t, Dec{length}, " bytes of noise: ");
  AppendHexRun(t, b, length);
}

// One entry of a decoding: what stands at `offset`.
struct Piece {
  Dialect dialect;
  size_t offset, length;
  size_t preambles;  // HART
};

// Room for a piece's text, so that the texts are written into one allocation.
size_t TextRoom(const Piece &piece) {
  switch (piece.dialect) {
    case Dialect::Module: return 160 + 2 * piece.length;
    case Dialect::Hart: return 320 + 8 * piece.length;
    case Dialect::Modbus: return 96 + 6 * piece.length;
    case Dialect::Noise: break;
  }
  return 24 + 3 * piece.length;
}

// The pieces of the bytes in order: frames, and the noise between them.
class Pieces {
 public:
  Pieces(const uint8_t *bytes, size_t count, LineDirection direction) {
    if (direction == LineDirection::Sent) Split<LineDirection::Sent>(bytes, count);
    else Split<LineDirection::Received>(bytes, count);
  }
  const Piece *begin() const { return many_.empty() ? few_.data() : many_.data(); }
  const Piece *end() const { return begin() + size_; }
  size_t size() const { return size_; }

 private:
  template <LineDirection D>
  void Split(const uint8_t *bytes, size_t count);
  void Add(const Piece &piece);

  // Most deliveries hold a few pieces: those stay here, without an allocation.
  std::array<Piece, 32> few_;
  std::vector<Piece> many_;
  size_t size_ = 0;
};

void Pieces::Add(const Piece &piece) {
  if (size_ < few_.size() && many_.empty()) {
    few_[size_++] = piece;
    return;
  }
  if (many_.empty()) {
    // A delivery past the few tends to hold a great many: room for them at once.
    many_.reserve(4 * few_.size());
    many_.assign(few_.begin(), few_.begin() + static_cast<std::ptrdiff_t>(size_));
  }
  many_.push_back(piece);
  ++size_;
}

// What the byte at an offset may begin besides a MODBUS frame (which any byte may), going one way.
enum ByteClass : uint8_t { kOnlyModbus = 0, kPreambles = 1, kModuleFrame = 2, kBareHartRequest = 4 };
template <LineDirection D>
constexpr std::array<uint8_t, 256> ByteClasses() {
  std::array<uint8_t, 256> classes{};
  for (unsigned b = 0; b < 256; ++b) {
    if (b == hart::kPreamble) {
      classes[b] = kPreambles;
      continue;
    }
    if (D == LineDirection::Sent ? kRequestStarts[b] : IsPrintable(static_cast<uint8_t>(b))) classes[b] |= kModuleFrame;
    if (D == LineDirection::Sent && kSentDelimiters[b]) classes[b] |= kBareHartRequest;
  }
  return classes;
}
constexpr std::array<uint8_t, 256> kSentClasses = ByteClasses<LineDirection::Sent>();
constexpr std::array<uint8_t, 256> kReceivedClasses = ByteClasses<LineDirection::Received>();

// The frame that starts at an offset, if any. Every offset is tried in turn, for every byte
// decoded: each test is as cheap as it can be made, the direction is fixed, and most bytes need one
// look at their class and a MODBUS CRC. Those bytes are passed over by Next, out of coverage.
template <LineDirection D>
class FrameAt {
 public:
  FrameAt(const uint8_t *bytes, size_t count) : bytes_(bytes), count_(count), module_(bytes, count) {}

  // The length of a frame at `at`, 0 when none; `piece` tells which. `skip` is how far on the next
  // one may start when there is none.
  size_t operator()(size_t at, Piece *piece, size_t *skip) {
    const uint8_t *b = bytes_ + at;
    const uint8_t what = classes_[*b];
    if (what == kOnlyModbus) {
      piece->dialect = Dialect::Modbus;
      return piece->length = ModbusFrameLength(b, count_ - at, modbusLengths_, modbusCounted_);
    }
    return Other(at, what, piece, skip);
  }

  // The first offset from `at` on where a frame may start (count when none), to be asked there.
  // Where only a MODBUS frame could start, its CRC is all there is to try, at nearly every offset:
  // a decision that guides the fuzzer nowhere, kept out of its instrumentation. The tries at the
  // offsets returned keep theirs.
  RQ735_BYTE_LOOP size_t Next(size_t at) const {
    for (; at < count_; ++at) {
      const uint8_t what = classes_[bytes_[at]];
      const bool onlyModbus = what == kOnlyModbus || (!kSent && !module_.MayStartAnswer(at));
      if (!onlyModbus || ModbusFrameLength(bytes_ + at, count_ - at, modbusLengths_, modbusCounted_) != 0) break;
    }
    return at;
  }

 private:
  size_t Other(size_t at, uint8_t what, Piece *piece, size_t *skip);

  static constexpr bool kSent = D == LineDirection::Sent;
  const uint8_t *bytes_;
  size_t count_;
  ModuleFinder module_;
  const uint8_t *classes_ = (kSent ? kSentClasses : kReceivedClasses).data();
  const uint8_t *modbusLengths_ = kSent ? kModbusLengths.sent : kModbusLengths.received;
  const uint8_t *modbusCounted_ = kSent ? kNotCounted : kModbusLengths.receivedCounted;
};

template <LineDirection D>
size_t FrameAt<D>::Other(size_t at, uint8_t what, Piece *piece, size_t *skip) {
  const uint8_t *b = bytes_ + at;
  const size_t n = count_ - at;
  if (what == kPreambles) {
    // No other dialect starts with a preamble byte, and after fewer of them the same frame would
    // follow: the whole run begins a HART frame or is noise.
    const size_t p = PreambleRun(b, n);
    *skip = p;
    piece->dialect = Dialect::Hart, piece->preambles = p;
    return piece->length = HartFrameLength(b, n, p, D);
  }
  piece->dialect = Dialect::Module;
  if ((piece->length = kSent ? module_.Request(at) : module_.Answer(at))) return piece->length;
  piece->dialect = Dialect::Modbus;
  if ((piece->length = ModbusFrameLength(b, n, modbusLengths_, modbusCounted_))) return piece->length;
  // A request typed without preambles.
  piece->dialect = Dialect::Hart, piece->preambles = 0;
  return piece->length = (what & kBareHartRequest) != 0 ? HartFrameLength(b, n, 0, D) : 0;
}

template <LineDirection D>
void Pieces::Split(const uint8_t *bytes, size_t count) {
  FrameAt<D> frameAt(bytes, count);
  Piece piece{Dialect::Noise, 0, 0, 0};
  size_t skip = 1;
  // Bytes shaped like one whole MODBUS frame whose CRC does not hold: shown as such, not as noise.
  if (count > 0 && LooksLikeModbus(bytes, count, D) && frameAt(0, &piece, &skip) == 0) {
    Add(Piece{Dialect::Modbus, 0, count, 0});
    return;
  }
  size_t noiseStart = 0;
  size_t at = 0;
  while ((at = frameAt.Next(at)) < count) {
    skip = 1;
    if (frameAt(at, &piece, &skip) == 0) {
      at += skip;
      continue;
    }
    piece.offset = at;
    if (at > noiseStart) Add(Piece{Dialect::Noise, noiseStart, at - noiseStart, 0});
    Add(piece);
    at += piece.length;
    noiseStart = at;
  }
  if (count > noiseStart) Add(Piece{Dialect::Noise, noiseStart, count - noiseStart, 0});
}

// Appends what the piece says; true when it is flawed.
bool Describe(std::string &t, const uint8_t *bytes, const Piece &piece, LineDirection direction) {
  const uint8_t *b = bytes + piece.offset;
  switch (piece.dialect) {
    case Dialect::Module: DescribeModule(t, b, piece.length, direction); return false;
    case Dialect::Hart: return DescribeHart(t, b, piece.length, piece.preambles);
    case Dialect::Modbus: return DescribeModbus(t, b, piece.length, direction);
    case Dialect::Noise: break;
  }
  DescribeNoise(t, b, piece.length);
  return true;
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

DecodedLine DecodeLineJoined(const uint8_t *bytes, size_t count, LineDirection direction) {
  const Pieces pieces(bytes, count, direction);
  DecodedLine line;
  line.entries.resize(pieces.size());
  size_t room = 0;
  for (const Piece &piece : pieces) room += TextRoom(piece) + kEntrySeparator.size();
  line.text.reserve(room);
  DecodedLine::Entry *e = line.entries.data();
  for (const Piece &piece : pieces) {
    if (!line.text.empty()) line.text += kEntrySeparator;
    e->dialect = piece.dialect;
    e->offset = piece.offset;
    e->length = piece.length;
    e->textAt = line.text.size();
    e->flawed = Describe(line.text, bytes, piece, direction);
    e->textLength = line.text.size() - e->textAt;
    ++e;
  }
  return line;
}

std::vector<DecodedFrame> DecodeLine(const uint8_t *bytes, size_t count, LineDirection direction) {
  const DecodedLine line = DecodeLineJoined(bytes, count, direction);
  std::vector<DecodedFrame> frames(line.entries.size());
  DecodedFrame *f = frames.data();
  for (const DecodedLine::Entry &e : line.entries) {
    f->dialect = e.dialect;
    f->offset = e.offset;
    f->length = e.length;
    f->text = line.TextOf(e);
    f->flawed = e.flawed;
    ++f;
  }
  return frames;
}

std::string DecodeLineText(const uint8_t *bytes, size_t count, LineDirection direction) {
  return DecodeLineJoined(bytes, count, direction).text;
}

std::string BytesAndText(const uint8_t *bytes, size_t count) {
  std::string out;
  out.reserve(4 * count + 2);
  AppendHexRun(out, bytes, count);
  out += "  ";
  AppendTextRun(out, bytes, count);
  return out;
}

std::string TraceText(const uint8_t *bytes, size_t count, LineDirection direction) {
  return BytesAndText(bytes, count) + "\n      " + DecodeLineText(bytes, count, direction);
}
