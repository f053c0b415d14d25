// The module's settings as rq735ctl reads, writes, saves and applies them: each by a name a person
// can read and edit, with the values it may take, the reply field it is read from and the frame
// (and place in it) it is written with. A new setting is one row of the table.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/modbus_reply.h"
#include "protocol/system_reply.h"

// The frames that write settings; a frame writes every setting of its group. In the order apply
// sends them: the RS485 line last, since the module changes its line after it.
enum class SettingGroup {
  SlaveAddress,
  WorkingMode,
  ReturnTime,
  HartInterval,
  Totalizer,
  Cutoff,
  Coefficient,
  MeterProfile,
  DataFormat,
  VariableCoefficient,
  CustomCommand1,
  CustomCommand2,
  ParsingFormat,
  Line,
};

// Where the module tells a setting's value: one field of the system-parameter reply (a list
// position or a text), or one of meter 0's MODBUS parameter reply.
struct SettingSource {
  std::optional<int> SystemParameters::*systemPosition = nullptr;
  std::optional<std::string> SystemParameters::*systemText = nullptr;
  std::optional<ModbusReplyField> meterField = std::nullopt;
};

struct SettingSpec {
  enum class Kind {
    Number,   // a whole number from `low` to `high`
    Choice,   // one of `choices`; its position is what the frame carries
    Decimal,  // a decimal number written with `allowed` characters, `low` to `high` of them; the
              // module keeps its own width, so values compare as numbers
    Text,     // exactly `high` characters (the coefficient factor)
    Hex,      // bytes as hexadecimal pairs separated by blanks, at most `high` of them
  };
  std::string name;
  Kind kind = Kind::Number;
  int low = 0;
  int high = 0;
  std::vector<std::string> choices = {};
  std::string allowed = {};
  // A number the module carries as its place in a list that begins at `low` (the preambles list
  // begins at 4, the address bits at 3): the reply's digit and the frame's value are the number
  // minus `low`.
  bool listed = false;
  SettingSource source = {};
  SettingGroup group = SettingGroup::SlaveAddress;  // the frame that writes it
  size_t slot = 0;                                  // its place among that frame's values
  std::string about = {};
};

// Every setting, in the order they are printed and saved.
const std::vector<SettingSpec> &AllSettings();
// Nothing when no setting has that name.
const SettingSpec *FindSetting(std::string_view name);

// Names the commands read themselves.
inline constexpr std::string_view kSlaveAddressSetting = "slave_address";
inline constexpr std::string_view kBaudSetting = "rs485_baud";
inline constexpr std::string_view kParitySetting = "rs485_parity";

// The ways a register pair is read, as the data-format settings and `modbus read --format` name
// them; a position in this list is the module's format digit.
const std::vector<std::string> &RegisterFormats();

// Values by name, in the canonical form of their kind: a number in decimal, a choice's name, a
// decimal or text as given, hexadecimal pairs in capitals.
using Settings = std::map<std::string, std::string>;

// The canonical form of a typed or saved value; nothing, with a message naming the setting and
// what it takes, when the value does not fit.
std::optional<std::string> CanonicalValue(const SettingSpec &spec, std::string_view text, std::string *error);

// Two values of the same setting that the module holds alike.
bool SameValue(const SettingSpec &spec, const std::string &a, const std::string &b);

// The settings that the system-parameter reply and meter 0's MODBUS parameter reply hold. A value
// the module holds that fits no value of its setting is kept as the module gave it.
Settings SettingsFromReplies(std::string_view systemReply, std::string_view meterReply);

// The frame that writes `group` with the values of `values`, which must hold every setting of the
// group; nothing, with the missing or unfit setting named, otherwise.
std::optional<std::string> GroupFrame(SettingGroup group, const Settings &values, std::string *error);

// A value of the setting other than `current` (the next choice, the next number, ...), for checks
// that every setting can be changed.
std::string AnotherValue(const SettingSpec &spec, const std::string &current);

// The settings of a group, in the order of their places in its frame.
std::vector<const SettingSpec *> GroupSettings(SettingGroup group);
