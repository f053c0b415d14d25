#include "protocol/hart_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "protocol/number_format.h"
#include "protocol/packed_ascii.h"

namespace {

using namespace hart;
namespace F = hart_field;

constexpr size_t kFloatBytes = 4;
constexpr size_t kTagBytes = F::kTagCharacters * 3 / 4;
constexpr size_t kDescriptorBytes = F::kDescriptorCharacters * 3 / 4;
constexpr size_t kMessageBytes = F::kMessageCharacters * 3 / 4;
constexpr int kDateYearSpan = 255;
constexpr uint8_t kReplyBytes9 = 1 + F::kVariableSlotBytes;

constexpr HartCommandInfo kCommands[] = {
    // command, least revision, request data, least reply data
    {kReadUniqueIdentifier, 0, 0, 12},
    {kReadPrimaryVariable, 0, 0, 1 + kFloatBytes},
    {kReadLoopCurrentAndPercent, 0, 0, 2 * kFloatBytes},
    {kWritePollingAddress, 0, 1, 1},
    {kReadDeviceVariablesWithStatus, 6, 1, kReplyBytes9},
    {kReadMessage, 0, 0, kMessageBytes},
    {kReadTagDescriptorDate, 0, 0, kTagBytes + kDescriptorBytes + F::kDateBytes},
    {kReadTransducerInformation, 0, 0, 3 + 1 + 3 * kFloatBytes},
    {kReadDeviceInformation, 0, 0, 3 + 3 * kFloatBytes + 2},
    {kReadFinalAssemblyNumber, 0, 0, 3},
    {kWriteMessage, 0, kMessageBytes, kMessageBytes},
    {kWriteTagDescriptorDate, 0, kTagBytes + kDescriptorBytes + F::kDateBytes,
     kTagBytes + kDescriptorBytes + F::kDateBytes},
    {kWriteFinalAssemblyNumber, 0, 3, 3},
    {kReadLongTag, 6, 0, F::kLongTagBytes},
    {kWriteLongTag, 6, F::kLongTagBytes, F::kLongTagBytes},
    {kWriteDampingValue, 0, kFloatBytes, kFloatBytes},
    {kWriteRangeValues, 0, 1 + 2 * kFloatBytes, 1 + 2 * kFloatBytes},
    {kResetConfigurationChanged, 0, 0, 0},
    {kEnterExitFixedCurrent, 0, kFloatBytes, kFloatBytes},
    {kWritePrimaryVariableUnits, 0, 1, 1},
    {kReadAdditionalDeviceStatus, 0, 0, 6},
    {kWriteResponsePreambles, 0, 1, 1},
};

std::string CommandText(int command) {
  const char *name = CommandName(command);
  return "command " + std::to_string(command) + (*name ? std::string(" (") + name + ")" : std::string());
}

// Whether `data` holds what a reply to `command` must; says what was due when not.
bool LongEnough(int command, const char *what, ByteView data, std::string *problem) {
  const HartCommandInfo *info = FindHartCommand(command);
  const size_t due = info ? info->replyBytes : 0;
  if (data.size() >= due) return true;
  if (problem) {
    // Built in one piece: the line decoders say it of many a short reply.
    std::string why;
    why.reserve(64 + std::strlen(what));
    why.append("the reply holds ").append(std::to_string(data.size())).append(" data bytes, too few for ");
    why.append(what).append(" (").append(std::to_string(due)).append(" are due)");
    *problem = std::move(why);
  }
  return false;
}

template <typename T>
std::optional<T> Fail(std::string *problem, std::string why) {
  if (problem) *problem = std::move(why);
  return std::nullopt;
}

HartRequestData Refuse(std::string problem) {
  HartRequestData out;
  out.problem = std::move(problem);
  return out;
}

void AppendFloat(std::vector<uint8_t> *out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(bits >> shift));
}

void AppendUint24(std::vector<uint8_t> *out, uint32_t value) {
  for (int shift = 16; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

float FloatAt(ByteView data, size_t at) {
  return FloatFromBytes(data[at], data[at + 1], data[at + 2], data[at + 3]);
}

uint32_t Uint24At(ByteView data, size_t at) {
  return uint32_t{data[at]} << 16 | uint32_t{data[at + 1]} << 8 | data[at + 2];
}

// A number that a float carries: finite and within its range. "" when it is, the reason otherwise.
std::string FloatProblem(const char *field, double value) {
  if (!std::isfinite(value)) return std::string(field) + ": not a finite number";
  if (std::fabs(value) > std::numeric_limits<float>::max())
    return std::string(field) + ": " + FormatGeneral(value) + " does not fit a single-precision float";
  return "";
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Packs one text field into `out`; on a problem, says it with the field's name.
bool PackField(const char *field, std::string_view text, size_t width, HartRequestData *out) {
  const PackedAscii packed = PackAscii(text, width);
  if (!packed.problem.empty()) {
    out->problem = std::string(field) + ": " + packed.problem;
    return false;
  }
  if (packed.turnedToUpperCase) out->upperCased.push_back(field);
  out->data.insert(out->data.end(), packed.bytes.begin(), packed.bytes.end());
  return true;
}

void AppendUtf8(std::string *out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out->push_back(static_cast<char>(codePoint));
  } else {
    out->push_back(static_cast<char>(0xC0 | codePoint >> 6));
    out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// A Latin-1 character that may stand in a text: printable, not a control character.
bool PrintableLatin1(uint32_t c) { return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF); }

}  // namespace

const HartCommandInfo *FindHartCommand(int command) {
  for (const HartCommandInfo &info : kCommands)
    if (info.command == command) return &info;
  return nullptr;
}

uint8_t LeastUniversalRevision(int command) {
  const HartCommandInfo *info = FindHartCommand(command);
  return info ? info->leastRevision : 0;
}

std::string RevisionProblem(int command, uint8_t revision) {
  const uint8_t least = LeastUniversalRevision(command);
  if (revision >= least) return "";
  return CommandText(command) + " needs universal revision " + std::to_string(least) +
         " or later; the instrument has revision " + std::to_string(revision);
}

HartRequest BuildHartRequest(const IdentityReply &instrument, uint8_t command, const std::vector<uint8_t> &data) {
  HartRequest out;
  out.problem = RevisionProblem(command, instrument.universalRevision);
  if (!out.problem.empty()) return out;
  const HartCommandInfo *info = FindHartCommand(command);
  if (info && data.size() < info->requestBytes) {
    out.problem = CommandText(command) + " carries " + std::to_string(info->requestBytes) + " data bytes, " +
                  std::to_string(data.size()) + " given";
    return out;
  }
  if (data.size() > kMaxDataBytes) {
    out.problem = std::to_string(data.size()) + " data bytes, " + std::to_string(kMaxDataBytes) + " at most";
    return out;
  }
  HartIdentity address = instrument.identity;
  address.manufacturer &= kAddressMask;  // the top two bits of the first byte are the master's and the burst bit
  const int preambles = std::clamp<int>(instrument.preambleNeed, kMinPreambles, kMaxPreambles);
  out.frame = HartLongFrame(preambles, kPrimaryMaster, address, command, data);
  return out;
}

std::string DateProblem(const HartDate &date) {
  if (date.year < kDateYearBase || date.year > kDateYearBase + kDateYearSpan)
    return "year " + std::to_string(date.year) + " outside " + std::to_string(kDateYearBase) + " to " +
           std::to_string(kDateYearBase + kDateYearSpan);
  if (date.month < 1 || date.month > 12) return "month " + std::to_string(date.month) + " outside 1 to 12";
  if (date.day < 1 || date.day > DaysInMonth(date.year, date.month))
    return "day " + std::to_string(date.day) + " outside 1 to " + std::to_string(DaysInMonth(date.year, date.month));
  return "";
}

std::optional<HartDate> ParseIsoDate(std::string_view text, std::string *problem) {
  auto digits = [&text](size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-')
    return Fail<HartDate>(problem, "\"" + std::string(text) + "\" is no date of the form YYYY-MM-DD");
  const HartDate date{digits(0, 4), digits(5, 2), digits(8, 2)};
  if (date.year < 0 || date.month < 0 || date.day < 0)
    return Fail<HartDate>(problem, "\"" + std::string(text) + "\" is no date of the form YYYY-MM-DD");
  std::string why = DateProblem(date);
  if (!why.empty()) return Fail<HartDate>(problem, std::string(text) + ": " + why);
  return date;
}

std::string IsoDateText(const HartDate &date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

std::optional<uint8_t> ParseUnit(std::string_view text, std::string *problem) {
  if (const auto code = UnitCodeFromName(text)) return code;
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    if (text.size() <= 3) {
      const int code = std::stoi(std::string(text));
      if (code <= 255) return static_cast<uint8_t>(code);
    }
    return Fail<uint8_t>(problem, "unit code " + std::string(text) + " outside 0 to 255");
  }
  return Fail<uint8_t>(problem, "\"" + std::string(text) + "\" is no unit name of the unit list, nor a unit code");
}

std::optional<HartPrimaryVariable> ParsePrimaryVariable(ByteView data, std::string *problem) {
  if (!LongEnough(kReadPrimaryVariable, "the primary variable", data, problem)) return std::nullopt;
  return HartPrimaryVariable{data[0], FloatAt(data, 1)};
}

std::optional<HartLoopCurrent> ParseLoopCurrent(ByteView data, std::string *problem) {
  if (!LongEnough(kReadLoopCurrentAndPercent, "the loop current and percent of range", data, problem)) return std::nullopt;
  return HartLoopCurrent{FloatAt(data, 0), FloatAt(data, kFloatBytes)};
}

HartRequestData PollingAddressRequest(long long address) {
  if (address < 0 || address > F::kMaxPollingAddress)
    return Refuse("polling address: " + std::to_string(address) + " outside 0 to " +
                  std::to_string(F::kMaxPollingAddress));
  HartRequestData out;
  out.data.push_back(static_cast<uint8_t>(address));
  return out;
}

std::optional<uint8_t> ParsePollingAddress(ByteView data, std::string *problem) {
  if (!LongEnough(kWritePollingAddress, "the polling address", data, problem)) return std::nullopt;
  return data[0];
}

HartRequestData DeviceVariablesRequest(const std::vector<uint8_t> &codes, uint8_t universalRevision) {
  const size_t most = universalRevision >= 7 ? F::kMaxSlots : F::kMaxSlotsRevision6;
  if (codes.empty() || codes.size() > most)
    return Refuse("device variables: " + std::to_string(codes.size()) + " asked, 1 to " + std::to_string(most) +
                  " at universal revision " + std::to_string(universalRevision));
  HartRequestData out;
  out.data = codes;
  return out;
}

std::optional<HartDeviceVariables> ParseDeviceVariables(ByteView data, std::string *problem) {
  if (!LongEnough(kReadDeviceVariablesWithStatus, "a device variable", data, problem)) return std::nullopt;
  const size_t after = data.size() - 1;
  const size_t rest = after % F::kVariableSlotBytes;
  if (rest != 0 && rest != F::kTimeStampBytes)
    return Fail<HartDeviceVariables>(
        problem, "the reply to " + CommandText(kReadDeviceVariablesWithStatus) + " holds " +
                     std::to_string(data.size()) + " data bytes: not one status byte and whole slots of " +
                     std::to_string(F::kVariableSlotBytes) + ", with or without a time stamp");
  HartDeviceVariables out;
  out.extendedStatus = data[0];
  const size_t slots = after / F::kVariableSlotBytes;
  for (size_t s = 0; s < slots; ++s) {
    const size_t at = 1 + s * F::kVariableSlotBytes;
    out.variables.push_back({data[at], data[at + 1], data[at + 2], FloatAt(data, at + 3), data[at + 7]});
  }
  if (rest == F::kTimeStampBytes) {
    const size_t at = 1 + slots * F::kVariableSlotBytes;
    out.timeStamp = uint32_t{data[at]} << 24 | Uint24At(data, at + 1);
  }
  return out;
}

HartRequestData MessageRequest(std::string_view message) {
  HartRequestData out;
  if (!PackField("message", message, F::kMessageCharacters, &out)) out.data.clear();
  return out;
}

std::optional<std::string> ParseMessage(ByteView data, std::string *problem) {
  if (!LongEnough(kReadMessage, "the message", data, problem)) return std::nullopt;
  return UnpackAsciiTrimmed(data.data(), kMessageBytes);
}

HartRequestData TagDescriptorDateRequest(const HartTagDescriptorDate &value) {
  HartRequestData out;
  const std::string dateProblem = DateProblem(value.date);
  if (!PackField("tag", value.tag, F::kTagCharacters, &out) ||
      !PackField("descriptor", value.descriptor, F::kDescriptorCharacters, &out)) {
    out.data.clear();
    return out;
  }
  if (!dateProblem.empty()) return Refuse("date: " + dateProblem);
  out.data.push_back(static_cast<uint8_t>(value.date.day));
  out.data.push_back(static_cast<uint8_t>(value.date.month));
  out.data.push_back(static_cast<uint8_t>(value.date.year - kDateYearBase));
  return out;
}

std::optional<HartTagDescriptorDate> ParseTagDescriptorDate(ByteView data, std::string *problem) {
  if (!LongEnough(kReadTagDescriptorDate, "tag, descriptor and date", data, problem)) return std::nullopt;
  HartTagDescriptorDate out;
  out.tag = UnpackAsciiTrimmed(data.data(), kTagBytes);
  out.descriptor = UnpackAsciiTrimmed(data.data() + kTagBytes, kDescriptorBytes);
  const size_t at = kTagBytes + kDescriptorBytes;
  out.date = {kDateYearBase + data[at + 2], data[at + 1], data[at]};
  return out;
}

std::optional<HartTransducerInformation> ParseTransducerInformation(ByteView data,
                                                                    std::string *problem) {
  if (!LongEnough(kReadTransducerInformation, "the transducer information", data, problem)) return std::nullopt;
  return HartTransducerInformation{Uint24At(data, 0), data[3], FloatAt(data, 4), FloatAt(data, 8), FloatAt(data, 12)};
}

std::optional<HartDeviceInformation> ParseDeviceInformation(ByteView data, std::string *problem) {
  if (!LongEnough(kReadDeviceInformation, "the device information", data, problem)) return std::nullopt;
  HartDeviceInformation out;
  out.alarmSelection = data[0];
  out.transferFunction = data[1];
  out.rangeUnit = data[2];
  out.upperRange = FloatAt(data, 3);
  out.lowerRange = FloatAt(data, 7);
  out.damping = FloatAt(data, 11);
  out.writeProtect = data[15];
  out.privateLabelDistributor = data[16];
  if (data.size() > 17) out.analogChannelFlags = data[17];
  return out;
}

HartRequestData FinalAssemblyNumberRequest(long long number) {
  if (number < 0 || number > F::kMaxFinalAssemblyNumber)
    return Refuse("final assembly number: " + std::to_string(number) + " outside 0 to " +
                  std::to_string(F::kMaxFinalAssemblyNumber));
  HartRequestData out;
  AppendUint24(&out.data, static_cast<uint32_t>(number));
  return out;
}

std::optional<uint32_t> ParseFinalAssemblyNumber(ByteView data, std::string *problem) {
  if (!LongEnough(kReadFinalAssemblyNumber, "the final assembly number", data, problem)) return std::nullopt;
  return Uint24At(data, 0);
}

HartRequestData LongTagRequest(std::string_view longTag) {
  HartRequestData out;
  size_t position = 0;
  for (size_t at = 0; at < longTag.size(); ++position) {
    const auto lead = static_cast<unsigned char>(longTag[at]);
    uint32_t c = lead;
    size_t length = 1;
    // Latin-1 needs at most two bytes of UTF-8: C2 or C3 and a continuation byte.
    if ((lead == 0xC2 || lead == 0xC3) && at + 1 < longTag.size() &&
        (static_cast<unsigned char>(longTag[at + 1]) & 0xC0) == 0x80) {
      c = (lead & 0x1Fu) << 6 | (static_cast<unsigned char>(longTag[at + 1]) & 0x3Fu);
      length = 2;
    }
    if (lead >= 0x80 && length == 1) c = 0x100;  // beyond Latin-1, or not UTF-8
    if (!PrintableLatin1(c))
      return Refuse("long tag: character " + std::to_string(position + 1) +
                    " is not a printable character of ISO Latin-1");
    out.data.push_back(static_cast<uint8_t>(c));
    at += length;
  }
  if (out.data.size() > F::kLongTagBytes)
    return Refuse("long tag: " + std::to_string(out.data.size()) + " characters, " +
                  std::to_string(F::kLongTagBytes) + " at most");
  out.data.resize(F::kLongTagBytes, 0x00);
  return out;
}

std::optional<std::string> ParseLongTag(ByteView data, std::string *problem) {
  if (!LongEnough(kReadLongTag, "the long tag", data, problem)) return std::nullopt;
  size_t end = 0;
  while (end < F::kLongTagBytes && data[end] != 0x00) ++end;
  while (end > 0 && data[end - 1] == ' ') --end;
  std::string out;
  for (size_t i = 0; i < end; ++i) AppendUtf8(&out, PrintableLatin1(data[i]) ? data[i] : '?');
  return out;
}

HartRequestData DampingRequest(double seconds) {
  std::string why = FloatProblem("damping", seconds);
  if (why.empty() && seconds < 0) why = "damping: " + FormatGeneral(seconds) + " seconds, below 0";
  if (!why.empty()) return Refuse(why);
  HartRequestData out;
  AppendFloat(&out.data, static_cast<float>(seconds));
  return out;
}

std::optional<float> ParseDamping(ByteView data, std::string *problem) {
  if (!LongEnough(kWriteDampingValue, "the damping value", data, problem)) return std::nullopt;
  return FloatAt(data, 0);
}

HartRequestData RangeValuesRequest(uint8_t unit, double upper, double lower) {
  std::string why = FloatProblem("upper range value", upper);
  if (why.empty()) why = FloatProblem("lower range value", lower);
  if (!why.empty()) return Refuse(why);
  HartRequestData out;
  out.data.push_back(unit);
  AppendFloat(&out.data, static_cast<float>(upper));
  AppendFloat(&out.data, static_cast<float>(lower));
  return out;
}

std::optional<HartRangeValues> ParseRangeValues(ByteView data, std::string *problem) {
  if (!LongEnough(kWriteRangeValues, "the range values", data, problem)) return std::nullopt;
  return HartRangeValues{data[0], FloatAt(data, 1), FloatAt(data, 1 + kFloatBytes)};
}

std::vector<uint8_t> ResetConfigurationChangedRequest(std::optional<uint16_t> counter) {
  if (!counter) return {};
  return {static_cast<uint8_t>(*counter >> 8), static_cast<uint8_t>(*counter)};
}

std::optional<HartConfigurationReset> ParseConfigurationReset(ByteView data, std::string *problem) {
  if (!LongEnough(kResetConfigurationChanged, "the reset", data, problem)) return std::nullopt;
  HartConfigurationReset out;
  if (data.size() >= 2) out.counter = static_cast<uint16_t>(data[0] << 8 | data[1]);
  return out;
}

HartRequestData FixedCurrentRequest(double milliamperes) {
  std::string why = FloatProblem("fixed current", milliamperes);
  if (why.empty() && milliamperes < 0) why = "fixed current: " + FormatGeneral(milliamperes) + " mA, below 0";
  if (!why.empty()) return Refuse(why);
  HartRequestData out;
  AppendFloat(&out.data, static_cast<float>(milliamperes));
  return out;
}

std::optional<float> ParseFixedCurrent(ByteView data, std::string *problem) {
  if (!LongEnough(kEnterExitFixedCurrent, "the fixed current", data, problem)) return std::nullopt;
  return FloatAt(data, 0);
}

std::vector<uint8_t> PrimaryVariableUnitsRequest(uint8_t unit) { return {unit}; }

std::optional<uint8_t> ParsePrimaryVariableUnits(ByteView data, std::string *problem) {
  if (!LongEnough(kWritePrimaryVariableUnits, "the unit code", data, problem)) return std::nullopt;
  return data[0];
}

std::optional<std::vector<uint8_t>> ParseAdditionalDeviceStatus(ByteView data,
                                                                std::string *problem) {
  if (!LongEnough(kReadAdditionalDeviceStatus, "the additional device status", data, problem)) return std::nullopt;
  const size_t kept = std::min(data.size(), F::kMaxAdditionalStatusBytes);
  return std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(kept));
}

HartRequestData ResponsePreamblesRequest(long long preambles) {
  if (preambles < kMinPreambles || preambles > kMaxPreambles)
    return Refuse("response preambles: " + std::to_string(preambles) + " outside " + std::to_string(kMinPreambles) +
                  " to " + std::to_string(kMaxPreambles));
  HartRequestData out;
  out.data.push_back(static_cast<uint8_t>(preambles));
  return out;
}

std::optional<uint8_t> ParseResponsePreambles(ByteView data, std::string *problem) {
  if (!LongEnough(kWriteResponsePreambles, "the number of response preambles", data, problem)) return std::nullopt;
  return data[0];
}
