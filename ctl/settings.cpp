#include "ctl/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "protocol/hart.h"
#include "protocol/int_text.h"
#include "protocol/modbus_reply.h"
#include "protocol/module_frames.h"

namespace {

using Kind = SettingSpec::Kind;
using G = SettingGroup;

const std::vector<std::string> kOffOn = {"off", "on"};
const std::vector<std::string> kFloatFormats = {"float-abcd", "float-cdab"};
const std::vector<std::string> kFormats = {"float-abcd", "float-cdab", "uint32-abcd", "uint32-cdab"};
const std::vector<std::string> kParsingCommands = {"none", "command1", "command2"};

std::vector<SettingSpec> MakeTable() {
  std::vector<SettingSpec> t = {
      {"slave_address", G::SlaveAddress, Kind::Number, 0, 999, {}, {}, "the module's MODBUS slave address"},
      {"working_mode", G::WorkingMode, Kind::Choice, 0, 0, {"transparent", "modbus-single", "modbus-multiple"}, {},
       "transparent passes HART through; the MODBUS modes publish the instrument's values"},
      {"return_time", G::ReturnTime, Kind::Choice, 0, 0, {"50ms", "100ms", "200ms", "300ms", "400ms", "500ms"}, {},
       "how soon the module answers on RS485"},
      {"hart_interval", G::HartInterval, Kind::Number, 0, 999, {}, {}, "HART polling interval, in tens of ms"},
      {"rs485_baud", G::Line, Kind::Choice, 0, 0, {"1200", "2400", "4800", "9600", "19200", "38400", "57600"}, {},
       "the module's RS485 line speed"},
      {"rs485_parity", G::Line, Kind::Choice, 0, 0, {"none", "odd", "even"}, {}, "the module's RS485 parity"},
      {"totalizer_upper", G::Totalizer, Kind::Decimal, 1, 6, {}, "0123456789.-", "totalizer URV (channel AD1)"},
      {"totalizer_lower", G::Totalizer, Kind::Decimal, 1, 6, {}, "0123456789.-", "totalizer LRV"},
      {"totalizer_start", G::Totalizer, Kind::Decimal, 1, 5, {}, "0123456789.-", "totalizer starting point"},
      {"cutoff", G::Cutoff, Kind::Decimal, 1, 5, {}, "0123456789.", "low-flow cut-off of channel AD1"},
      {"coefficient", G::Coefficient, Kind::Number, 0, 9999, {}, {}, "coefficient, in ten-thousandths"},
      {"meter_enabled", G::MeterProfile, Kind::Choice, 0, 0, kOffOn, {}, "meter 0 is polled"},
      {"meter_device_mode", G::MeterProfile, Kind::Choice, 0, 0, {"secondary-master", "master"}, {},
       "how the module masters meter 0"},
      {"meter_type", G::MeterProfile, Kind::Number, 0, 15, {}, {}, "meter type, 0 the custom meter"},
      {"meter_preamble", G::MeterProfile, Kind::Number, 4, 9, {}, {}, "preambles the module sends to meter 0"},
      {"meter_clear_time", G::MeterProfile, Kind::Number, 0, 999, {}, {}, "buffer clear time, in seconds"},
      {"format_current", G::DataFormat, Kind::Choice, 0, 0, kFloatFormats, {}, "registers 1-2: the loop current"},
      {"format_variable1", G::DataFormat, Kind::Choice, 0, 0, kFormats, {}, "registers 3-4: variable 1"},
      {"format_variable2", G::DataFormat, Kind::Choice, 0, 0, kFormats, {}, "registers 5-6: variable 2"},
      {"format_variable3", G::DataFormat, Kind::Choice, 0, 0, kFormats, {}, "registers 7-8: variable 3"},
      {"format_variable4", G::DataFormat, Kind::Choice, 0, 0, kFormats, {}, "registers 9-10: variable 4"},
      {"coefficient_mode", G::VariableCoefficient, Kind::Choice, 0, 0, {"off", "m3s-to-m3h", "factor", "factor-x100"},
       {}, "what is done to variable 1"},
      {"coefficient_factor", G::VariableCoefficient, Kind::Text, 5, 5, {}, {}, "variable 1's factor, 5 characters"},
      {"custom_command1_enabled", G::CustomCommand1, Kind::Choice, 0, 0, kOffOn, {}, "custom read command 1 is sent"},
      {"custom_command1", G::CustomCommand1, Kind::Hex, 0, 14, {}, {}, "custom read command 1, hexadecimal bytes"},
      {"custom_command2_enabled", G::CustomCommand2, Kind::Choice, 0, 0, kOffOn, {}, "custom read command 2 is sent"},
      {"custom_command2", G::CustomCommand2, Kind::Hex, 0, 14, {}, {}, "custom read command 2, hexadecimal bytes"},
      {"parsing_address_bits", G::ParsingFormat, Kind::Number, 3, 9, {}, {}, "custom parsing: address bits"},
  };
  for (int v = 1; v <= 4; ++v) {
    const std::string n = "parsing_variable" + std::to_string(v);
    const std::string which = "custom parsing of variable " + std::to_string(v);
    t.push_back({n + "_command", G::ParsingFormat, Kind::Choice, 0, 0, kParsingCommands, {}, which + ": the command"});
    t.push_back({n + "_start", G::ParsingFormat, Kind::Number, 0, 99, {}, {}, which + ": start address"});
    t.push_back({n + "_length", G::ParsingFormat, Kind::Choice, 0, 0, {"4", "8"}, {}, which + ": bytes"});
  }
  return t;
}

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<double> DecimalValue(std::string_view text) {
  double value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

int Position(const SettingSpec &spec, const std::string &value) {
  const auto it = std::find(spec.choices.begin(), spec.choices.end(), value);
  return it == spec.choices.end() ? -1 : static_cast<int>(it - spec.choices.begin());
}

// A value as the module gave it: a number without its leading zeros, a position as its choice.
void Put(Settings &out, const std::string &name, const std::string &text) {
  const SettingSpec *spec = FindSetting(name);
  std::string error;
  const auto canonical = CanonicalValue(*spec, text, &error);
  out[name] = canonical ? *canonical : text;
}

void PutPosition(Settings &out, const std::string &name, int position) {
  const SettingSpec *spec = FindSetting(name);
  if (spec->kind == Kind::Choice && position >= 0 && position < static_cast<int>(spec->choices.size()))
    out[name] = spec->choices[static_cast<size_t>(position)];
  else
    out[name] = std::to_string(position);
}

// Meter 0's MODBUS parameter reply, every group read (the custom ones too, whatever the meter type).
class MeterReader : public ModbusReplySink {
 public:
  explicit MeterReader(Settings &out) : out_(out) {}
  void SetPosition(ModbusReplyField field, int position) override {
    using F = ModbusReplyField;
    switch (field) {
      case F::CoefficientMode: return PutPosition(out_, "coefficient_mode", position);
      case F::Enabled: return PutPosition(out_, "meter_enabled", position);
      case F::DeviceMode: return PutPosition(out_, "meter_device_mode", position);
      case F::MeterType: out_["meter_type"] = std::to_string(position); return;
      case F::Preamble: out_["meter_preamble"] = std::to_string(position + 4); return;
      case F::Format1: return PutPosition(out_, "format_current", position);
      case F::Format3: return PutPosition(out_, "format_variable1", position);
      case F::Format5: return PutPosition(out_, "format_variable2", position);
      case F::Format7: return PutPosition(out_, "format_variable3", position);
      case F::Format9: return PutPosition(out_, "format_variable4", position);
      case F::AddressBits: out_["parsing_address_bits"] = std::to_string(position + 3); return;
      case F::Command1: return PutPosition(out_, "parsing_variable1_command", position);
      case F::Length1: return PutPosition(out_, "parsing_variable1_length", position);
      case F::Command3: return PutPosition(out_, "parsing_variable2_command", position);
      case F::Length3: return PutPosition(out_, "parsing_variable2_length", position);
      case F::Command5: return PutPosition(out_, "parsing_variable3_command", position);
      case F::Length5: return PutPosition(out_, "parsing_variable3_length", position);
      case F::Command7: return PutPosition(out_, "parsing_variable4_command", position);
      case F::Length7: return PutPosition(out_, "parsing_variable4_length", position);
      case F::Command1Switch: return PutPosition(out_, "custom_command1_enabled", position);
      case F::Command2Switch: return PutPosition(out_, "custom_command2_enabled", position);
      default: return;  // the working mode comes from the system parameters
    }
  }
  void SetText(ModbusReplyField field, std::string_view text) override {
    using F = ModbusReplyField;
    const std::string t(text);
    switch (field) {
      case F::CoefficientFactor: return Put(out_, "coefficient_factor", t);
      case F::ClearTime: return Put(out_, "meter_clear_time", t);
      case F::StartAddress1: return Put(out_, "parsing_variable1_start", t);
      case F::StartAddress3: return Put(out_, "parsing_variable2_start", t);
      case F::StartAddress5: return Put(out_, "parsing_variable3_start", t);
      case F::StartAddress7: return Put(out_, "parsing_variable4_start", t);
      case F::Command1Bytes: return Put(out_, "custom_command1", t);
      case F::Command2Bytes: return Put(out_, "custom_command2", t);
      default: return;
    }
  }
  int SelectedMeterType() const override { return 0; }
  void ShowCustomParsing(bool) override {}

 private:
  Settings &out_;
};

// A setting's value as a position or a number, for a frame; -1 (refused by the frame) when it has none.
int ValueOf(const Settings &values, const std::string &name) {
  const SettingSpec *spec = FindSetting(name);
  const auto it = values.find(name);
  if (it == values.end()) return -1;
  if (spec->kind == Kind::Choice) return Position(*spec, it->second);
  return Number(it->second).value_or(-1);
}

}  // namespace

const std::vector<SettingSpec> &AllSettings() {
  static const std::vector<SettingSpec> table = MakeTable();
  return table;
}

const SettingSpec *FindSetting(std::string_view name) {
  for (const SettingSpec &spec : AllSettings())
    if (spec.name == name) return &spec;
  return nullptr;
}

std::vector<const SettingSpec *> GroupSettings(SettingGroup group) {
  std::vector<const SettingSpec *> out;
  for (const SettingSpec &spec : AllSettings())
    if (spec.group == group) out.push_back(&spec);
  return out;
}

std::optional<std::string> CanonicalValue(const SettingSpec &spec, std::string_view text, std::string *error) {
  auto fail = [&](const std::string &what) -> std::optional<std::string> {
    *error = spec.name + ": \"" + std::string(text) + "\" " + what;
    return std::nullopt;
  };
  switch (spec.kind) {
    case Kind::Number: {
      const auto value = Number(text);
      if (!value || *value < spec.low || *value > spec.high)
        return fail("is not a whole number from " + std::to_string(spec.low) + " to " + std::to_string(spec.high));
      return std::to_string(*value);
    }
    case Kind::Choice: {
      if (std::find(spec.choices.begin(), spec.choices.end(), text) != spec.choices.end()) return std::string(text);
      std::string list;
      for (const std::string &c : spec.choices) list += (list.empty() ? "" : ", ") + c;
      return fail("is not one of " + list);
    }
    case Kind::Decimal:
      if (text.size() < static_cast<size_t>(spec.low) || text.size() > static_cast<size_t>(spec.high) ||
          text.find_first_not_of(spec.allowed) != std::string_view::npos || !DecimalValue(text))
        return fail("is not a decimal number of at most " + std::to_string(spec.high) + " characters");
      return std::string(text);
    case Kind::Text:
      if (text.size() != static_cast<size_t>(spec.high) ||
          std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return fail("does not hold exactly " + std::to_string(spec.high) + " printable characters");
      return std::string(text);
    case Kind::Hex: {
      std::string pairs(text);
      std::transform(pairs.begin(), pairs.end(), pairs.begin(), [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
      const HexPairs parsed = ParseHexPairs(pairs, static_cast<size_t>(spec.high) + 1);
      const bool whole = pairs.empty() || (parsed.error == HexPairsError::None && pairs.size() == 3 * parsed.bytes.size() - 1);
      if (!whole || parsed.bytes.size() > static_cast<size_t>(spec.high))
        return fail("is not up to " + std::to_string(spec.high) + " hexadecimal pairs separated by blanks");
      return pairs;
    }
  }
  return fail("cannot be read");
}

bool SameValue(const SettingSpec &spec, const std::string &a, const std::string &b) {
  if (spec.kind == Kind::Decimal) {
    const auto x = DecimalValue(a), y = DecimalValue(b);
    if (x && y) return *x == *y;
  }
  return a == b;
}

Settings SettingsFromReplies(std::string_view systemReply, std::string_view meterReply) {
  Settings out;
  const SystemParameters p = ReadSystemParameters(systemReply);
  if (p.slaveAddress) Put(out, "slave_address", *p.slaveAddress);
  if (p.workingMode) PutPosition(out, "working_mode", *p.workingMode);
  if (p.returnTime) PutPosition(out, "return_time", *p.returnTime);
  if (p.hartInterval) Put(out, "hart_interval", *p.hartInterval);
  if (p.baudPosition) PutPosition(out, "rs485_baud", *p.baudPosition);
  if (p.parityPosition) PutPosition(out, "rs485_parity", *p.parityPosition);
  if (p.rangeUpper) Put(out, "totalizer_upper", *p.rangeUpper);
  if (p.rangeLower) Put(out, "totalizer_lower", *p.rangeLower);
  if (p.totalizerStart) Put(out, "totalizer_start", *p.totalizerStart);
  if (p.cutoff) Put(out, "cutoff", *p.cutoff);
  if (p.coefficient) Put(out, "coefficient", *p.coefficient);
  MeterReader reader(out);
  try {
    ApplyModbusParameterReply(meterReply, reader);
  } catch (const EConvertError &) {
    // a field that is no digit ends the reading; what came before it stays
  }
  return out;
}

std::optional<std::string> GroupFrame(SettingGroup group, const Settings &values, std::string *error) {
  for (const SettingSpec *spec : GroupSettings(group)) {
    const auto it = values.find(spec->name);
    std::string why;
    if (it == values.end()) {
      *error = spec->name + ": the module did not tell its value, which its frame carries too";
      return std::nullopt;
    }
    if (!CanonicalValue(*spec, it->second, &why)) {
      *error = "the module holds " + why;
      return std::nullopt;
    }
  }
  auto v = [&](const std::string &name) { return ValueOf(values, name); };
  auto text = [&](const std::string &name) { return values.at(name); };
  switch (group) {
    case G::SlaveAddress: return SlaveAddressFrame(v("slave_address")).bytes;
    case G::WorkingMode: return WorkingModeFrame(v("working_mode")).bytes;
    case G::ReturnTime: return ReturnTimeFrame(v("return_time")).bytes;
    case G::HartInterval: return HartIntervalFrame(v("hart_interval")).bytes;
    case G::Totalizer: return TotalizerFrame(text("totalizer_upper"), text("totalizer_lower"), text("totalizer_start"));
    case G::Cutoff: return CutoffFrame(text("cutoff"));
    case G::Coefficient: return CoefficientFactorFrame(v("coefficient"));
    case G::MeterProfile:
      return MeterProfileFrame(0, v("meter_enabled"), v("meter_device_mode"), v("meter_type"),
                               v("meter_preamble") - 4, v("meter_clear_time"))
          .bytes;
    case G::DataFormat:
      return DataFormatFrame(0, {v("format_current"), v("format_variable1"), v("format_variable2"),
                                 v("format_variable3"), v("format_variable4")})
          .bytes;
    case G::VariableCoefficient: return CoefficientFrame(v("coefficient_mode"), text("coefficient_factor")).bytes;
    case G::CustomCommand1:
    case G::CustomCommand2: {
      const std::string n = group == G::CustomCommand1 ? "1" : "2";
      const std::string pairs = text("custom_command" + n);
      const std::vector<uint8_t> bytes = pairs.empty() ? std::vector<uint8_t>() : ParseHexPairs(pairs, 14).bytes;
      return CustomCommandFrame(0, n[0], v("custom_command" + n + "_enabled"), bytes).bytes;
    }
    case G::ParsingFormat: {
      std::array<ParsingRow, 4> rows{};
      for (size_t r = 0; r < rows.size(); ++r) {
        const std::string n = "parsing_variable" + std::to_string(r + 1);
        rows[r] = {v(n + "_command"), v(n + "_start"), v(n + "_length")};
      }
      return ParsingFormatFrame(0, v("parsing_address_bits") - 3, rows).bytes;
    }
    case G::Line: return LineSettingFrame(v("rs485_baud"), v("rs485_parity")).bytes;
  }
  return std::nullopt;
}

std::string AnotherValue(const SettingSpec &spec, const std::string &current) {
  auto either = [&](const std::string &a, const std::string &b) { return SameValue(spec, current, a) ? b : a; };
  switch (spec.kind) {
    case Kind::Choice: {
      const auto it = std::find(spec.choices.begin(), spec.choices.end(), current);
      const size_t next = it == spec.choices.end() ? 0 : static_cast<size_t>(it - spec.choices.begin()) + 1;
      return spec.choices[next % spec.choices.size()];
    }
    case Kind::Number: {
      const int value = Number(current).value_or(spec.low);
      return std::to_string(value < spec.high ? value + 1 : spec.low);
    }
    case Kind::Decimal: return either("12.5", "7.25");
    case Kind::Text: return either("1.234", "2.345");
    case Kind::Hex: return either("01 02 0A", "0B");
  }
  return current;
}
