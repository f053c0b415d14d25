#include "ctl/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "protocol/hart.h"
#include "protocol/int_text.h"
#include "protocol/module_frames.h"

namespace {

using Kind = SettingSpec::Kind;
using G = SettingGroup;
using F = ModbusReplyField;
using P = SystemParameters;

const std::vector<std::string> kOffOn = {"off", "on"};
const std::vector<std::string> kFloatFormats = {"float-abcd", "float-cdab"};
const std::vector<std::string> kFormats = {"float-abcd", "float-cdab", "uint32-abcd", "uint32-cdab"};
const std::vector<std::string> kParsingCommands = {"none", "command1", "command2"};

// What a setting takes, for the rows below.
SettingSpec Takes(Kind kind, int low, int high) {
  SettingSpec s;
  s.kind = kind;
  s.low = low;
  s.high = high;
  return s;
}
SettingSpec Number(int low, int high) { return Takes(Kind::Number, low, high); }
SettingSpec ListedNumber(int first, int last) {
  SettingSpec s = Number(first, last);
  s.listed = true;
  return s;
}
SettingSpec Choice(std::vector<std::string> choices) {
  SettingSpec s = Takes(Kind::Choice, 0, 0);
  s.choices = std::move(choices);
  return s;
}
SettingSpec Decimal(int most, std::string allowed) {
  SettingSpec s = Takes(Kind::Decimal, 1, most);
  s.allowed = std::move(allowed);
  return s;
}
SettingSpec Text(int length) { return Takes(Kind::Text, length, length); }
SettingSpec Hex(int most) { return Takes(Kind::Hex, 0, most); }

SettingSource FromSystem(std::optional<int> P::*position) {
  SettingSource s;
  s.systemPosition = position;
  return s;
}
SettingSource FromSystem(std::optional<std::string> P::*text) {
  SettingSource s;
  s.systemText = text;
  return s;
}
SettingSource FromMeter(ModbusReplyField field) {
  SettingSource s;
  s.meterField = field;
  return s;
}

SettingSpec Row(std::string name, SettingSpec takes, SettingSource from, SettingGroup group, size_t slot,
                std::string about) {
  takes.name = std::move(name);
  takes.source = from;
  takes.group = group;
  takes.slot = slot;
  takes.about = std::move(about);
  return takes;
}

std::vector<SettingSpec> MakeTable() {
  std::vector<SettingSpec> t = {
      Row(std::string(kSlaveAddressSetting), Number(0, 999), FromSystem(&P::slaveAddress), G::SlaveAddress, 0,
          "the module's MODBUS slave address"),
      Row("working_mode", Choice({"transparent", "modbus-single", "modbus-multiple"}), FromSystem(&P::workingMode),
          G::WorkingMode, 0, "transparent passes HART through; the MODBUS modes publish the instrument's values"),
      Row("return_time", Choice({"50ms", "100ms", "200ms", "300ms", "400ms", "500ms"}), FromSystem(&P::returnTime),
          G::ReturnTime, 0, "how soon the module answers on RS485"),
      Row("hart_interval", Number(0, 999), FromSystem(&P::hartInterval), G::HartInterval, 0,
          "HART polling interval, in tens of ms"),
      Row(std::string(kBaudSetting), Choice({"1200", "2400", "4800", "9600", "19200", "38400", "57600"}),
          FromSystem(&P::baudPosition), G::Line, 0, "the module's RS485 line speed"),
      Row(std::string(kParitySetting), Choice({"none", "odd", "even"}), FromSystem(&P::parityPosition), G::Line, 1,
          "the module's RS485 parity"),
      Row("totalizer_upper", Decimal(6, "0123456789.-"), FromSystem(&P::rangeUpper), G::Totalizer, 0,
          "totalizer URV (channel AD1)"),
      Row("totalizer_lower", Decimal(6, "0123456789.-"), FromSystem(&P::rangeLower), G::Totalizer, 1,
          "totalizer LRV"),
      Row("totalizer_start", Decimal(5, "0123456789.-"), FromSystem(&P::totalizerStart), G::Totalizer, 2,
          "totalizer starting point"),
      Row("cutoff", Decimal(5, "0123456789."), FromSystem(&P::cutoff), G::Cutoff, 0, "low-flow cut-off of channel AD1"),
      Row("coefficient", Number(0, 9999), FromSystem(&P::coefficient), G::Coefficient, 0,
          "coefficient, in ten-thousandths"),
      Row("meter_enabled", Choice(kOffOn), FromMeter(F::Enabled), G::MeterProfile, 0, "meter 0 is polled"),
      Row("meter_device_mode", Choice({"secondary-master", "master"}), FromMeter(F::DeviceMode), G::MeterProfile, 1,
          "how the module masters meter 0"),
      Row("meter_type", Number(0, 15), FromMeter(F::MeterType), G::MeterProfile, 2, "meter type, 0 the custom meter"),
      Row("meter_preamble", ListedNumber(4, 9), FromMeter(F::Preamble), G::MeterProfile, 3,
          "preambles the module sends to meter 0"),
      Row("meter_clear_time", Number(0, 999), FromMeter(F::ClearTime), G::MeterProfile, 4,
          "buffer clear time, in seconds"),
      Row("format_current", Choice(kFloatFormats), FromMeter(F::Format1), G::DataFormat, 0,
          "registers 1-2: the loop current"),
      Row("format_variable1", Choice(kFormats), FromMeter(F::Format3), G::DataFormat, 1, "registers 3-4: variable 1"),
      Row("format_variable2", Choice(kFormats), FromMeter(F::Format5), G::DataFormat, 2, "registers 5-6: variable 2"),
      Row("format_variable3", Choice(kFormats), FromMeter(F::Format7), G::DataFormat, 3, "registers 7-8: variable 3"),
      Row("format_variable4", Choice(kFormats), FromMeter(F::Format9), G::DataFormat, 4, "registers 9-10: variable 4"),
      Row("coefficient_mode", Choice({"off", "m3s-to-m3h", "factor", "factor-x100"}), FromMeter(F::CoefficientMode),
          G::VariableCoefficient, 0, "what is done to variable 1"),
      Row("coefficient_factor", Text(5), FromMeter(F::CoefficientFactor), G::VariableCoefficient, 1,
          "variable 1's factor, 5 characters"),
      Row("custom_command1_enabled", Choice(kOffOn), FromMeter(F::Command1Switch), G::CustomCommand1, 0,
          "custom read command 1 is sent"),
      Row("custom_command1", Hex(14), FromMeter(F::Command1Bytes), G::CustomCommand1, 1,
          "custom read command 1, hexadecimal bytes"),
      Row("custom_command2_enabled", Choice(kOffOn), FromMeter(F::Command2Switch), G::CustomCommand2, 0,
          "custom read command 2 is sent"),
      Row("custom_command2", Hex(14), FromMeter(F::Command2Bytes), G::CustomCommand2, 1,
          "custom read command 2, hexadecimal bytes"),
      Row("parsing_address_bits", ListedNumber(3, 9), FromMeter(F::AddressBits), G::ParsingFormat, 0,
          "custom parsing: address bits"),
  };
  // The parsing frame's slots after the address bits: command, start and length of each variable.
  const ModbusReplyField fields[4][3] = {{F::Command1, F::StartAddress1, F::Length1},
                                         {F::Command3, F::StartAddress3, F::Length3},
                                         {F::Command5, F::StartAddress5, F::Length5},
                                         {F::Command7, F::StartAddress7, F::Length7}};
  for (size_t v = 0; v < 4; ++v) {
    const std::string n = "parsing_variable" + std::to_string(v + 1);
    const std::string which = "custom parsing of variable " + std::to_string(v + 1);
    const size_t slot = 1 + 3 * v;
    t.push_back(Row(n + "_command", Choice(kParsingCommands), FromMeter(fields[v][0]), G::ParsingFormat, slot,
                    which + ": the command"));
    t.push_back(Row(n + "_start", Number(0, 99), FromMeter(fields[v][1]), G::ParsingFormat, slot + 1,
                    which + ": start address"));
    t.push_back(Row(n + "_length", Choice({"4", "8"}), FromMeter(fields[v][2]), G::ParsingFormat, slot + 2,
                    which + ": bytes"));
  }
  return t;
}

std::optional<int> WholeNumber(std::string_view text) {
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

int ListStart(const SettingSpec &spec) { return spec.listed ? spec.low : 0; }

// A value as the module gave it: a number without its leading zeros, a position as its choice.
void PutText(Settings &out, const SettingSpec &spec, const std::string &text) {
  std::string error;
  const auto canonical = CanonicalValue(spec, text, &error);
  out[spec.name] = canonical ? *canonical : text;
}

void PutPosition(Settings &out, const SettingSpec &spec, int position) {
  if (spec.kind == Kind::Choice && position >= 0 && position < static_cast<int>(spec.choices.size()))
    out[spec.name] = spec.choices[static_cast<size_t>(position)];
  else
    out[spec.name] = std::to_string(position + ListStart(spec));
}

const SettingSpec *ReadFromMeterField(ModbusReplyField field) {
  for (const SettingSpec &spec : AllSettings())
    if (spec.source.meterField == field) return &spec;
  return nullptr;  // the working mode comes from the system parameters
}

// Meter 0's MODBUS parameter reply, every group read (the custom ones too, whatever the meter type).
class MeterReader : public ModbusReplySink {
 public:
  explicit MeterReader(Settings &out) : out_(out) {}
  void SetPosition(ModbusReplyField field, int position) override {
    if (const SettingSpec *spec = ReadFromMeterField(field)) PutPosition(out_, *spec, position);
  }
  void SetText(ModbusReplyField field, std::string_view text) override {
    if (const SettingSpec *spec = ReadFromMeterField(field)) PutText(out_, *spec, std::string(text));
  }
  int SelectedMeterType() const override { return 0; }
  void ShowCustomParsing(bool) override {}

 private:
  Settings &out_;
};

// The values of one frame by slot: what the frame carries of each (a choice's position, a
// number), -1 where a setting has no such number, and each setting's text.
class FrameValues {
 public:
  explicit FrameValues(size_t count) : numbers_(count, -1), texts_(count) {}
  void Set(size_t slot, int number, const std::string &text) {
    if (slot >= numbers_.size()) return;
    numbers_[slot] = number;
    texts_[slot] = text;
  }
  int Number(size_t slot) const { return slot < numbers_.size() ? numbers_[slot] : -1; }
  std::string Text(size_t slot) const { return slot < texts_.size() ? texts_[slot] : std::string(); }
  std::vector<uint8_t> Bytes(size_t slot) const {
    const std::string pairs = Text(slot);
    return pairs.empty() ? std::vector<uint8_t>() : ParseHexPairs(pairs, pairs.size()).bytes;
  }

 private:
  std::vector<int> numbers_;
  std::vector<std::string> texts_;
};

// What a setting's canonical value puts in its frame as a number.
int CarriedNumber(const SettingSpec &spec, const std::string &value) {
  if (spec.kind == Kind::Choice) return Position(spec, value);
  if (spec.kind == Kind::Number) {
    const auto n = WholeNumber(value);
    return n ? *n - ListStart(spec) : -1;
  }
  return -1;
}

ModuleFrame Unchecked(std::string bytes) { return {std::move(bytes), {}}; }

// The frame of each group, from the values at the slots its settings name. Every setting is on
// meter 0.
struct GroupWriter {
  SettingGroup group;
  ModuleFrame (*frame)(const FrameValues &v);
};
const GroupWriter kWriters[] = {
    {G::SlaveAddress, [](const FrameValues &v) { return SlaveAddressFrame(v.Number(0)); }},
    {G::WorkingMode, [](const FrameValues &v) { return WorkingModeFrame(v.Number(0)); }},
    {G::ReturnTime, [](const FrameValues &v) { return ReturnTimeFrame(v.Number(0)); }},
    {G::HartInterval, [](const FrameValues &v) { return HartIntervalFrame(v.Number(0)); }},
    {G::Totalizer, [](const FrameValues &v) { return Unchecked(TotalizerFrame(v.Text(0), v.Text(1), v.Text(2))); }},
    {G::Cutoff, [](const FrameValues &v) { return Unchecked(CutoffFrame(v.Text(0))); }},
    {G::Coefficient, [](const FrameValues &v) { return Unchecked(CoefficientFactorFrame(v.Number(0))); }},
    {G::MeterProfile,
     [](const FrameValues &v) {
       return MeterProfileFrame(0, v.Number(0), v.Number(1), v.Number(2), v.Number(3), v.Number(4));
     }},
    {G::DataFormat,
     [](const FrameValues &v) {
       return DataFormatFrame(0, {v.Number(0), v.Number(1), v.Number(2), v.Number(3), v.Number(4)});
     }},
    {G::VariableCoefficient, [](const FrameValues &v) { return CoefficientFrame(v.Number(0), v.Text(1)); }},
    {G::CustomCommand1, [](const FrameValues &v) { return CustomCommandFrame(0, '1', v.Number(0), v.Bytes(1)); }},
    {G::CustomCommand2, [](const FrameValues &v) { return CustomCommandFrame(0, '2', v.Number(0), v.Bytes(1)); }},
    {G::ParsingFormat,
     [](const FrameValues &v) {
       std::array<ParsingRow, 4> rows{};
       for (size_t r = 0; r < rows.size(); ++r) {
         const size_t slot = 1 + 3 * r;
         rows[r] = {v.Number(slot), v.Number(slot + 1), v.Number(slot + 2)};
       }
       return ParsingFormatFrame(0, v.Number(0), rows);
     }},
    {G::Line, [](const FrameValues &v) { return LineSettingFrame(v.Number(0), v.Number(1)); }},
};

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

const std::vector<std::string> &RegisterFormats() { return kFormats; }

std::vector<const SettingSpec *> GroupSettings(SettingGroup group) {
  std::vector<const SettingSpec *> out;
  for (const SettingSpec &spec : AllSettings())
    if (spec.group == group) out.push_back(&spec);
  std::stable_sort(out.begin(), out.end(), [](const SettingSpec *a, const SettingSpec *b) { return a->slot < b->slot; });
  return out;
}
std::optional<std::string> CanonicalValue(const SettingSpec &spec, std::string_view text, std::string *error) {
  auto fail = [&](const std::string &what) -> std::optional<std::string> {
    *error = spec.name + ": \"" + std::string(text) + "\" " + what;
    return std::nullopt;
  };
  switch (spec.kind) {
    case Kind::Number: {
      const auto value = WholeNumber(text);
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
  for (const SettingSpec &spec : AllSettings()) {
    const SettingSource &from = spec.source;
    if (from.systemPosition && p.*from.systemPosition) PutPosition(out, spec, *(p.*from.systemPosition));
    if (from.systemText && p.*from.systemText) PutText(out, spec, *(p.*from.systemText));
  }
  MeterReader reader(out);
  try {
    ApplyModbusParameterReply(meterReply, reader);
  } catch (const EConvertError &) {
    // a field that is no digit ends the reading; what came before it stays
  }
  return out;
}

std::optional<std::string> GroupFrame(SettingGroup group, const Settings &values, std::string *error) {
  const std::vector<const SettingSpec *> settings = GroupSettings(group);
  const auto writer = std::find_if(std::begin(kWriters), std::end(kWriters),
                                   [group](const GroupWriter &w) { return w.group == group; });
  if (settings.empty() || writer == std::end(kWriters)) {
    *error = "no frame writes that group";
    return std::nullopt;
  }
  FrameValues slots(settings.back()->slot + 1);
  for (const SettingSpec *spec : settings) {
    const auto it = values.find(spec->name);
    if (it == values.end()) {
      *error = spec->name + ": the module did not tell its value, which its frame carries too";
      return std::nullopt;
    }
    std::string why;
    const auto value = CanonicalValue(*spec, it->second, &why);
    if (!value) {
      *error = "the module holds " + why;
      return std::nullopt;
    }
    slots.Set(spec->slot, CarriedNumber(*spec, *value), *value);
  }
  const ModuleFrame frame = writer->frame(slots);
  if (!frame.problems.empty()) {
    const FieldProblem &p = frame.problems.front();
    *error = "the frame of " + settings.front()->name + " cannot carry " + std::to_string(p.value) + " (it takes " +
             std::to_string(p.low) + " to " + std::to_string(p.high) + ")";
    return std::nullopt;
  }
  return frame.bytes;
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
      const int value = WholeNumber(current).value_or(spec.low);
      return std::to_string(value < spec.high ? value + 1 : spec.low);
    }
    case Kind::Decimal: return either("12.5", "7.25");
    case Kind::Text: return either("1.234", "2.345");
    case Kind::Hex: return either("01 02 0A", "0B");
  }
  return current;
}
