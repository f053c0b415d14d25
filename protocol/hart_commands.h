// The HART commands of the communicator: the data each request carries and the data each reply
// gives back, built and read here, and the request frame addressed as the instrument's answer to
// command 0 asked.
//
// The parsers take the data after the two status bytes (HartAnswer::data of a reply that checked
// out). A reply may hold more than they read (a later revision appends fields); one that holds less
// gives nothing, and the problem says what was due. Floats are IEEE-754 single precision, most
// significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_view.h"
#include "protocol/hart.h"
#include "protocol/hart_reply.h"

// The widths of the fields.
namespace hart_field {
constexpr size_t kTagCharacters = 8;          // packed ASCII
constexpr size_t kDescriptorCharacters = 16;  // packed ASCII
constexpr size_t kMessageCharacters = 32;     // packed ASCII
constexpr size_t kLongTagBytes = 32;          // ISO Latin-1, padded with zero bytes
constexpr size_t kDateBytes = 3;              // day, month, year - 1900
constexpr uint32_t kMaxFinalAssemblyNumber = 0xFFFFFF;  // three bytes
constexpr uint8_t kMaxPollingAddress = 63;
// Command 9: each slot a code, a classification, a unit, a float and a status byte, after one byte
// of extended device status; revision 7 appends a time stamp.
constexpr size_t kVariableSlotBytes = 8;
constexpr size_t kTimeStampBytes = 4;
constexpr size_t kMaxSlotsRevision6 = 4;
constexpr size_t kMaxSlots = 8;
// Command 48: six device-specific bytes, then (revision 6 and later) these.
constexpr size_t kMaxAdditionalStatusBytes = 25;
constexpr size_t kExtendedDeviceStatus = 6;
constexpr size_t kDeviceOperatingMode = 7;
constexpr size_t kStandardizedStatus0 = 8;
constexpr size_t kStandardizedStatus1 = 9;
constexpr size_t kAnalogChannelSaturated = 10;
constexpr size_t kStandardizedStatus2 = 11;
constexpr size_t kStandardizedStatus3 = 12;
constexpr size_t kAnalogChannelFixed = 13;
}  // namespace hart_field

// What a command needs: the least universal revision that has it (0: every revision), the data of
// its request and the least data of its reply (after the two status bytes).
struct HartCommandInfo {
  uint8_t command;
  uint8_t leastRevision;
  uint8_t requestBytes;
  uint8_t replyBytes;
};
// The row of a command; nullptr for a command outside the table.
const HartCommandInfo *FindHartCommand(int command);
// The least universal revision that has `command`: 0 when every revision has it.
uint8_t LeastUniversalRevision(int command);
// "command 20 (read long tag) needs universal revision 6 or later; the instrument has revision 5",
// or "" when `revision` has the command.
std::string RevisionProblem(int command, uint8_t revision);

// A request frame, or why it is not sent.
struct HartRequest {
  std::vector<uint8_t> frame;
  std::string problem;
};
// `command` with `data` to the long address command 0 gave, as the primary master, with the
// preambles the instrument asks for (5 to 20). Refused when its universal revision lacks the
// command, or the data are fewer than the command carries or more than a frame holds.
HartRequest BuildHartRequest(const IdentityReply &instrument, uint8_t command, const std::vector<uint8_t> &data = {});

// The data of a request, or why it cannot be sent, naming the field ("tag: 9 characters, 8 at most").
struct HartRequestData {
  std::vector<uint8_t> data;
  std::string problem;
  std::vector<std::string> upperCased;  // the text fields whose lower case was sent as upper case
};

struct HartDate {
  int year = hart::kDateYearBase;
  int month = 1;
  int day = 1;
  bool operator==(const HartDate &o) const { return year == o.year && month == o.month && day == o.day; }
  bool operator!=(const HartDate &o) const { return !(*this == o); }
};
// "" for a day of the calendar from 1900-01-01 to 2155-12-31, what is wrong otherwise.
std::string DateProblem(const HartDate &date);
// "YYYY-MM-DD"; nothing (and the reason) for any other text or a day outside DateProblem's range.
std::optional<HartDate> ParseIsoDate(std::string_view text, std::string *problem = nullptr);
std::string IsoDateText(const HartDate &date);

// A unit from a name of the unit lists (any case) or its code in decimal (0 to 255).
std::optional<uint8_t> ParseUnit(std::string_view text, std::string *problem = nullptr);

// Command 1.
struct HartPrimaryVariable {
  uint8_t unit = 0;
  float value = 0;
};
std::optional<HartPrimaryVariable> ParsePrimaryVariable(ByteView data, std::string *problem = nullptr);

// Command 2.
struct HartLoopCurrent {
  float milliamperes = 0;
  float percentOfRange = 0;
};
std::optional<HartLoopCurrent> ParseLoopCurrent(ByteView data, std::string *problem = nullptr);

// Command 6: the polling address, 0 to 63.
HartRequestData PollingAddressRequest(long long address);
std::optional<uint8_t> ParsePollingAddress(ByteView data, std::string *problem = nullptr);

// Command 9: the device variables asked for by code (hart::kPrimaryVariableCode ...), one to four
// of them for revision 6, to eight for later ones.
HartRequestData DeviceVariablesRequest(const std::vector<uint8_t> &codes, uint8_t universalRevision);
struct HartDeviceVariable {
  uint8_t code = 0;
  uint8_t classification = 0;
  uint8_t unit = 0;
  float value = 0;
  uint8_t status = 0;  // quality (hart::kVariableQualityMask) and limits
};
struct HartDeviceVariables {
  uint8_t extendedStatus = 0;
  std::vector<HartDeviceVariable> variables;
  std::optional<uint32_t> timeStamp;  // revision 7: in 1/32 ms since midnight
};
std::optional<HartDeviceVariables> ParseDeviceVariables(ByteView data,
                                                        std::string *problem = nullptr);

// Commands 12 and 17: the message, 32 characters of packed ASCII. Texts read back lose the spaces
// that pad them.
HartRequestData MessageRequest(std::string_view message);
std::optional<std::string> ParseMessage(ByteView data, std::string *problem = nullptr);

// Commands 13 and 18: tag (8 characters), descriptor (16) and date.
struct HartTagDescriptorDate {
  std::string tag;
  std::string descriptor;
  HartDate date;
};
HartRequestData TagDescriptorDateRequest(const HartTagDescriptorDate &value);
// The date as it came: DateProblem says whether it is a day of the calendar.
std::optional<HartTagDescriptorDate> ParseTagDescriptorDate(ByteView data,
                                                            std::string *problem = nullptr);

// Command 14.
struct HartTransducerInformation {
  uint32_t serialNumber = 0;
  uint8_t unit = 0;  // of the limits and the span
  float upperLimit = 0;
  float lowerLimit = 0;
  float minimumSpan = 0;
};
std::optional<HartTransducerInformation> ParseTransducerInformation(ByteView data,
                                                                    std::string *problem = nullptr);

// Command 15.
struct HartDeviceInformation {
  uint8_t alarmSelection = 0;
  uint8_t transferFunction = 0;
  uint8_t rangeUnit = 0;
  float upperRange = 0;
  float lowerRange = 0;
  float damping = 0;  // seconds
  uint8_t writeProtect = 0;  // hart::kWriteProtected, hart::kNotWriteProtected, or another code
  uint8_t privateLabelDistributor = 0;
  std::optional<uint8_t> analogChannelFlags;  // revision 6 and later
};
std::optional<HartDeviceInformation> ParseDeviceInformation(ByteView data,
                                                            std::string *problem = nullptr);

// Commands 16 and 19: 0 to 16777215.
HartRequestData FinalAssemblyNumberRequest(long long number);
std::optional<uint32_t> ParseFinalAssemblyNumber(ByteView data, std::string *problem = nullptr);

// Commands 20 and 22: the long tag, up to 32 characters of ISO Latin-1, given and read as UTF-8.
// Control characters read back are shown as '?'.
HartRequestData LongTagRequest(std::string_view longTag);
std::optional<std::string> ParseLongTag(ByteView data, std::string *problem = nullptr);

// Command 34: seconds, not negative.
HartRequestData DampingRequest(double seconds);
std::optional<float> ParseDamping(ByteView data, std::string *problem = nullptr);

// Command 35.
struct HartRangeValues {
  uint8_t unit = 0;
  float upper = 0;
  float lower = 0;
};
HartRequestData RangeValuesRequest(uint8_t unit, double upper, double lower);
std::optional<HartRangeValues> ParseRangeValues(ByteView data, std::string *problem = nullptr);

// Command 38. An instrument of revision 7 resets the flag only when the request carries the
// configuration change counter it holds, or none; it answers with its counter.
std::vector<uint8_t> ResetConfigurationChangedRequest(std::optional<uint16_t> counter = std::nullopt);
struct HartConfigurationReset {
  std::optional<uint16_t> counter;
};
std::optional<HartConfigurationReset> ParseConfigurationReset(ByteView data,
                                                              std::string *problem = nullptr);

// Command 40: the loop current to hold, in mA; hart::kLeaveFixedCurrent leaves fixed current mode.
HartRequestData FixedCurrentRequest(double milliamperes);
std::optional<float> ParseFixedCurrent(ByteView data, std::string *problem = nullptr);

// Command 44.
std::vector<uint8_t> PrimaryVariableUnitsRequest(uint8_t unit);
std::optional<uint8_t> ParsePrimaryVariableUnits(ByteView data, std::string *problem = nullptr);

// Command 48: the status bytes as they came (at most 25 kept); hart_field names the places of the
// standard ones.
std::optional<std::vector<uint8_t>> ParseAdditionalDeviceStatus(ByteView data,
                                                                std::string *problem = nullptr);

// Command 59: 5 to 20 preambles before each reply.
HartRequestData ResponsePreamblesRequest(long long preambles);
std::optional<uint8_t> ParseResponsePreambles(ByteView data, std::string *problem = nullptr);
