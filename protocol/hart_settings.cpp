#include "protocol/hart_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>

#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "protocol/hart_commands.h"
#include "protocol/packed_ascii.h"

namespace {

using namespace hart;
using Id = HartSettingId;
namespace F = hart_field;

const std::vector<HartSettingSpec> kSettings = {
    {Id::Tag, "tag", "8 characters of packed ASCII", kReadTagDescriptorDate, kWriteTagDescriptorDate},
    {Id::Descriptor, "descriptor", "16 characters of packed ASCII", kReadTagDescriptorDate, kWriteTagDescriptorDate},
    {Id::Date, "date", "YYYY-MM-DD", kReadTagDescriptorDate, kWriteTagDescriptorDate},
    {Id::Message, "message", "32 characters of packed ASCII", kReadMessage, kWriteMessage},
    {Id::FinalAssembly, "final_assembly", "0 to 16777215", kReadFinalAssemblyNumber, kWriteFinalAssemblyNumber},
    {Id::LongTag, "long_tag", "32 characters of ISO Latin-1, universal revision 6 or later", kReadLongTag,
     kWriteLongTag},
    {Id::PvUnits, "pv_units", "a unit name of the unit list, or its code", kReadDeviceInformation,
     kWritePrimaryVariableUnits},
    {Id::LowerRange, "lower_range", "in the primary variable's unit", kReadDeviceInformation, kWriteRangeValues},
    {Id::UpperRange, "upper_range", "in the primary variable's unit", kReadDeviceInformation, kWriteRangeValues},
    {Id::Damping, "damping", "seconds", kReadDeviceInformation, kWriteDampingValue},
    {Id::PollingAddress, "polling_address", "0 to 63", kReadUniqueIdentifier, kWritePollingAddress},
    {Id::ResponsePreambles, "response_preambles", "5 to 20", kReadUniqueIdentifier, kWriteResponsePreambles},
};

std::string Named(const HartSettingSpec &spec, const std::string &why) { return std::string(spec.name) + ": " + why; }

HartValueCheck Refused(const HartSettingSpec &spec, const std::string &why) {
  HartValueCheck out;
  out.problem = Named(spec, why);
  return out;
}

// A whole number, all of the text; nothing for anything else.
std::optional<long long> WholeNumber(std::string_view text) {
  long long value = 0;
  const char *end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || at != end) return std::nullopt;
  return value;
}

// A decimal number, with a point or a comma, all of the text.
std::optional<double> DecimalNumber(std::string_view text) {
  std::string copy(text);
  if (std::count(copy.begin(), copy.end(), ',') == 1 && copy.find('.') == std::string::npos)
    std::replace(copy.begin(), copy.end(), ',', '.');
  if (!copy.empty() && copy[0] == '+') copy.erase(0, 1);
  double value = 0;
  const char *end = copy.data() + copy.size();
  const auto [at, error] = std::from_chars(copy.data(), end, value, std::chars_format::general);
  if (copy.empty() || error != std::errc() || at != end) return std::nullopt;
  return value;
}

std::optional<uint8_t> UnitCode(std::string_view text, std::string *problem) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  if (lower == "ma") return kUnitMilliampere;
  if (lower.rfind("unit ", 0) == 0)
    if (const auto code = WholeNumber(std::string_view(lower).substr(5)); code && *code >= 0 && *code <= 255)
      return static_cast<uint8_t>(*code);
  return ParseUnit(text, problem);
}

std::string RightTrimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

const std::string *Held(const HartValues &values, Id id) {
  const auto it = values.find(HartSetting(id).name);
  return it == values.end() ? nullptr : &it->second;
}

void Put(HartValues *values, Id id, std::string text) { (*values)[HartSetting(id).name] = std::move(text); }

}  // namespace

const std::vector<HartSettingSpec> &HartSettings() { return kSettings; }

const HartSettingSpec *FindHartSetting(std::string_view name) {
  for (const HartSettingSpec &spec : kSettings)
    if (name == spec.name) return &spec;
  return nullptr;
}

const HartSettingSpec &HartSetting(HartSettingId id) {
  return kSettings[static_cast<size_t>(id)];  // the table is in the enum's order
}

bool HartSettingAvailable(const HartSettingSpec &spec, uint8_t universalRevision) {
  return LeastUniversalRevision(spec.writeCommand) <= universalRevision &&
         LeastUniversalRevision(spec.readCommand) <= universalRevision;
}

namespace {

// A float to `digits` significant digits, never the C library's locale.
std::string SignificantDigits(float value, int digits) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::general, digits);
  return std::string(text, end.ptr);
}

}  // namespace

std::string HartFloatText(float value) {
  if (!std::isfinite(value)) return "none";
  std::string text = SignificantDigits(value, 7);
  // Just below a power of ten, seven digits may read back as a float that shows otherwise ("1e+28"
  // as 9.999999e+27): the text would not survive a save and an apply. Nine digits name the float.
  double back = 0;
  std::from_chars(text.data(), text.data() + text.size(), back);
  if (SignificantDigits(static_cast<float>(back), 7) != text)
    text = SignificantDigits(value, std::numeric_limits<float>::max_digits10);
  return text;
}

std::string UnitCodeName(uint8_t code) {
  if (code == kUnitMilliampere) return "mA";
  const int position = UnitPosition(code);
  return position == kUnitCount - 1 ? "unit " + std::to_string(code) : UnitName(position);
}

HartValueCheck CheckHartValue(const HartSettingSpec &spec, std::string_view typed) {
  HartValueCheck out;
  auto packed = [&](size_t width) {
    const PackedAscii p = PackAscii(typed, width);
    if (!p.problem.empty()) return Refused(spec, p.problem);
    out.value = RightTrimmed(UnpackAscii(p.bytes.data(), p.bytes.size()));
    if (p.turnedToUpperCase) out.note = Named(spec, "lower case is written as upper case");
    return out;
  };
  auto whole = [&](long long low, long long high) {
    const auto n = WholeNumber(typed);
    if (!n || *n < low || *n > high)
      return Refused(spec, "\"" + std::string(typed) + "\" is not a whole number from " + std::to_string(low) + " to " +
                               std::to_string(high));
    out.value = std::to_string(*n);
    return out;
  };
  auto decimal = [&](bool negativeAllowed) {
    const auto n = DecimalNumber(typed);
    if (!n) return Refused(spec, "\"" + std::string(typed) + "\" is not a number");
    HartRequestData check = negativeAllowed ? RangeValuesRequest(0, *n, 0) : DampingRequest(*n);
    if (!check.problem.empty()) return Refused(spec, check.problem.substr(check.problem.find(": ") + 2));
    out.value = HartFloatText(static_cast<float>(*n));
    return out;
  };
  switch (spec.id) {
    case Id::Tag: return packed(F::kTagCharacters);
    case Id::Descriptor: return packed(F::kDescriptorCharacters);
    case Id::Message: return packed(F::kMessageCharacters);
    case Id::Date: {
      std::string why;
      const auto date = ParseIsoDate(typed, &why);
      if (!date) return Refused(spec, why);
      out.value = IsoDateText(*date);
      return out;
    }
    case Id::FinalAssembly: return whole(0, F::kMaxFinalAssemblyNumber);
    case Id::LongTag: {
      const HartRequestData check = LongTagRequest(typed);
      if (!check.problem.empty()) return Refused(spec, check.problem.substr(check.problem.find(": ") + 2));
      std::string value(typed);
      while (!value.empty() && value.back() == ' ') value.pop_back();
      out.value = value;
      return out;
    }
    case Id::PvUnits: {
      std::string why;
      const auto code = UnitCode(typed, &why);
      if (!code) return Refused(spec, why);
      out.value = UnitCodeName(*code);
      return out;
    }
    case Id::LowerRange:
    case Id::UpperRange: return decimal(true);
    case Id::Damping: return decimal(false);
    case Id::PollingAddress: return whole(0, F::kMaxPollingAddress);
    case Id::ResponsePreambles: return whole(kMinPreambles, kMaxPreambles);
  }
  return Refused(spec, "not a setting");
}

std::vector<uint8_t> HartSettingReads(uint8_t universalRevision) {
  std::vector<uint8_t> reads;
  for (const HartSettingSpec &spec : kSettings) {
    if (spec.readCommand == kReadUniqueIdentifier || !HartSettingAvailable(spec, universalRevision)) continue;
    if (std::find(reads.begin(), reads.end(), spec.readCommand) == reads.end()) reads.push_back(spec.readCommand);
  }
  return reads;
}

void TakeIdentity(const IdentityReply &identity, const std::vector<uint8_t> &identityData, uint8_t pollingAddress,
                  HartValues *values) {
  Put(values, Id::PollingAddress, std::to_string(pollingAddress));
  const size_t at = hart_answer::kResponsePreambleNeed - hart_answer::kStatusBytes;
  if (identity.universalRevision >= 6 && at < identityData.size())
    Put(values, Id::ResponsePreambles, std::to_string(identityData[at]));
}

bool TakeHartReply(uint8_t command, const std::vector<uint8_t> &data, HartValues *values, std::string *problem) {
  switch (command) {
    case kReadTagDescriptorDate:
    case kWriteTagDescriptorDate: {
      const auto v = ParseTagDescriptorDate(data, problem);
      if (!v) return false;
      Put(values, Id::Tag, v->tag);
      Put(values, Id::Descriptor, v->descriptor);
      Put(values, Id::Date, IsoDateText(v->date));
      return true;
    }
    case kReadMessage:
    case kWriteMessage: {
      const auto v = ParseMessage(data, problem);
      if (v) Put(values, Id::Message, *v);
      return v.has_value();
    }
    case kReadFinalAssemblyNumber:
    case kWriteFinalAssemblyNumber: {
      const auto v = ParseFinalAssemblyNumber(data, problem);
      if (v) Put(values, Id::FinalAssembly, std::to_string(*v));
      return v.has_value();
    }
    case kReadLongTag:
    case kWriteLongTag: {
      const auto v = ParseLongTag(data, problem);
      if (v) Put(values, Id::LongTag, *v);
      return v.has_value();
    }
    case kReadDeviceInformation: {
      const auto v = ParseDeviceInformation(data, problem);
      if (!v) return false;
      Put(values, Id::PvUnits, UnitCodeName(v->rangeUnit));
      Put(values, Id::LowerRange, HartFloatText(v->lowerRange));
      Put(values, Id::UpperRange, HartFloatText(v->upperRange));
      Put(values, Id::Damping, HartFloatText(v->damping));
      return true;
    }
    case kWritePrimaryVariableUnits: {
      const auto v = ParsePrimaryVariableUnits(data, problem);
      if (v) Put(values, Id::PvUnits, UnitCodeName(*v));
      return v.has_value();
    }
    case kWriteRangeValues: {
      const auto v = ParseRangeValues(data, problem);
      if (!v) return false;
      Put(values, Id::PvUnits, UnitCodeName(v->unit));
      Put(values, Id::LowerRange, HartFloatText(v->lower));
      Put(values, Id::UpperRange, HartFloatText(v->upper));
      return true;
    }
    case kWriteDampingValue: {
      const auto v = ParseDamping(data, problem);
      if (v) Put(values, Id::Damping, HartFloatText(*v));
      return v.has_value();
    }
    case kWritePollingAddress: {
      const auto v = ParsePollingAddress(data, problem);
      if (v) Put(values, Id::PollingAddress, std::to_string(*v));
      return v.has_value();
    }
    case kWriteResponsePreambles: {
      const auto v = ParseResponsePreambles(data, problem);
      if (v) Put(values, Id::ResponsePreambles, std::to_string(*v));
      return v.has_value();
    }
    default:
      if (problem) *problem = "command " + std::to_string(command) + " reads no setting";
      return false;
  }
}

HartWritePlan PlanHartWrites(const HartValues &held, const HartValues &wanted, uint8_t universalRevision) {
  HartWritePlan plan;
  HartValues merged = held;
  std::vector<uint8_t> commands;  // in table order of their first differing setting
  std::map<uint8_t, std::vector<Id>> carries;
  for (const HartSettingSpec &spec : kSettings) {
    const std::string *value = Held(wanted, spec.id);
    if (!value) continue;
    if (!HartSettingAvailable(spec, universalRevision)) {
      plan.problems.push_back(Named(spec, RevisionProblem(spec.writeCommand, universalRevision)));
      continue;
    }
    const std::string *now = Held(held, spec.id);
    if (now && HartValueEqual(spec, *value, *now)) {
      plan.equal.push_back(spec.id);
      continue;
    }
    merged[spec.name] = *value;
    if (std::find(commands.begin(), commands.end(), spec.writeCommand) == commands.end())
      commands.push_back(spec.writeCommand);
    carries[spec.writeCommand].push_back(spec.id);
  }

  // The value a frame carries: the wanted one or the held one; nothing when neither is known.
  std::set<uint8_t> failed;
  auto need = [&](uint8_t command, Id id) -> std::optional<std::string> {
    if (const std::string *v = Held(merged, id)) return *v;
    plan.problems.push_back(std::string(HartSetting(id).name) + ": not read, and command " + std::to_string(command) +
                            " carries it; not sent");
    failed.insert(command);
    return std::nullopt;
  };
  auto unitCode = [&](uint8_t command) -> std::optional<uint8_t> {
    const auto text = need(command, Id::PvUnits);
    if (!text) return std::nullopt;
    std::string why;
    const auto code = UnitCode(*text, &why);
    if (!code) {
      plan.problems.push_back("pv_units: " + why);
      failed.insert(command);
    }
    return code;
  };
  auto number = [](const std::optional<std::string> &text) { return DecimalNumber(text.value_or("")).value_or(NAN); };
  for (const uint8_t command : commands) {
    HartRequestData request;
    switch (command) {
      case kWriteTagDescriptorDate: {
        const auto tag = need(command, Id::Tag), descriptor = need(command, Id::Descriptor);
        const auto date = need(command, Id::Date);
        if (!tag || !descriptor || !date) break;
        const auto day = ParseIsoDate(*date);
        if (!day) {
          plan.problems.push_back("date: the instrument holds " + *date + ", not a day to write back; give date too");
          failed.insert(command);
          break;
        }
        request = TagDescriptorDateRequest({*tag, *descriptor, *day});
        break;
      }
      case kWriteMessage: request = MessageRequest(need(command, Id::Message).value_or("")); break;
      case kWriteFinalAssemblyNumber:
        request = FinalAssemblyNumberRequest(WholeNumber(need(command, Id::FinalAssembly).value_or("")).value_or(-1));
        break;
      case kWriteLongTag: request = LongTagRequest(need(command, Id::LongTag).value_or("")); break;
      case kWritePrimaryVariableUnits:
        if (const auto code = unitCode(command)) request.data = PrimaryVariableUnitsRequest(*code);
        break;
      case kWriteRangeValues: {
        const auto unit = unitCode(command);
        const auto lower = need(command, Id::LowerRange), upper = need(command, Id::UpperRange);
        if (!unit || !lower || !upper) break;
        request = RangeValuesRequest(*unit, number(upper), number(lower));
        break;
      }
      case kWriteDampingValue: request = DampingRequest(number(need(command, Id::Damping))); break;
      case kWritePollingAddress:
        request = PollingAddressRequest(WholeNumber(need(command, Id::PollingAddress).value_or("")).value_or(-1));
        break;
      case kWriteResponsePreambles:
        request = ResponsePreamblesRequest(WholeNumber(need(command, Id::ResponsePreambles).value_or("")).value_or(-1));
        break;
      default: break;
    }
    if (failed.count(command)) continue;
    if (!request.problem.empty()) {
      plan.problems.push_back(request.problem);
      continue;
    }
    plan.writes.push_back({command, request.data, carries[command]});
  }
  return plan;
}

bool HartValueEqual(const HartSettingSpec &, const std::string &wanted, const std::string &held) {
  return wanted == held;
}
