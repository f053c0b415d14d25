// The instrument's settings that the communicator reads and writes, one row each: its name, the
// command that reads it and the one that writes it. Values travel as canonical text (what a user
// types, what rq735ctl prints and saves), so that a value read back compares with the one wanted.
//
// Reading: the commands HartSettingReads() lists, each reply's data given to TakeHartReply. The
// polling address is the one command 0 was answered at, the reply preambles (revision 6 and later)
// what command 0 says; on revision 5 the reply preambles are known only from the echo of command 59.
// Writing: PlanHartWrites gives the frames' data for the wanted values over the held ones; a frame
// goes only when it carries a value that differs. The echo of each write goes to TakeHartReply too.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/hart_reply.h"

enum class HartSettingId : uint8_t {
  Tag,
  Descriptor,
  Date,
  Message,
  FinalAssembly,
  LongTag,
  PvUnits,
  LowerRange,
  UpperRange,
  Damping,
  PollingAddress,
  ResponsePreambles,
};

struct HartSettingSpec {
  HartSettingId id;
  const char *name;   // "tag"
  const char *about;  // "8 characters of packed ASCII", for help texts
  uint8_t readCommand;   // hart::kReadUniqueIdentifier for what command 0 tells
  uint8_t writeCommand;
};

// In the order they are shown and written.
const std::vector<HartSettingSpec> &HartSettings();
const HartSettingSpec *FindHartSetting(std::string_view name);
const HartSettingSpec &HartSetting(HartSettingId id);
// Whether an instrument of `universalRevision` has the setting's write command.
bool HartSettingAvailable(const HartSettingSpec &spec, uint8_t universalRevision);

// Setting name -> canonical text.
using HartValues = std::map<std::string, std::string>;

// A typed value made canonical (upper case for packed ASCII, the unit's name, the number as a
// float holds it), or why it cannot be written ("tag: 9 characters, 8 at most"). `note` tells
// what was changed on the way ("tag: lower case is written as upper case").
struct HartValueCheck {
  std::optional<std::string> value;
  std::string problem;
  std::string note;
};
HartValueCheck CheckHartValue(const HartSettingSpec &spec, std::string_view typed);

// The commands that read every setting the revision has, each once, in order (command 0 not
// among them: it comes first anyway).
std::vector<uint8_t> HartSettingReads(uint8_t universalRevision);

// What command 0 tells: the polling address it was answered at and, from revision 6 on, the reply
// preambles.
void TakeIdentity(const IdentityReply &identity, const std::vector<uint8_t> &identityData, uint8_t pollingAddress,
                  HartValues *values);
// The values the data of a reply to `command` (a read of HartSettingReads or a write's echo)
// holds, put into `values`; false with the parser's problem when the data are too short.
bool TakeHartReply(uint8_t command, const std::vector<uint8_t> &data, HartValues *values, std::string *problem);

struct HartWrite {
  uint8_t command = 0;
  std::vector<uint8_t> data;
  std::vector<HartSettingId> carries;  // the wanted settings that differ, which this frame writes
};
struct HartWritePlan {
  std::vector<HartWrite> writes;        // in table order of their first setting
  std::vector<HartSettingId> equal;     // wanted and already held
  std::vector<std::string> problems;    // a value no frame can carry, a setting the revision lacks
};
// `wanted` holds canonical values (CheckHartValue); `held` what was read. A frame that carries
// more than the wanted settings (command 18: tag, descriptor and date) fills the rest from `held`.
HartWritePlan PlanHartWrites(const HartValues &held, const HartValues &wanted, uint8_t universalRevision);

// Whether a value read back is the one wanted (the same canonical text).
bool HartValueEqual(const HartSettingSpec &spec, const std::string &wanted, const std::string &held);

// A float as the settings show it: seven significant digits (nine where seven would read back as a
// float that shows otherwise), "none" for HART's not-a-number; never the C library's locale.
std::string HartFloatText(float value);
// A unit code as the settings name it: the unit lists' name, "mA" for 39, "unit N" for a code
// outside the lists.
std::string UnitCodeName(uint8_t code);
