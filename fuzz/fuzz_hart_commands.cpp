// The HART commands' reply parsers and packed ASCII, on any bytes. Each parser gives a value
// exactly when the bytes hold what its reply carries, and a reason otherwise; what a parser reads
// is built again by the request builder of the same field into the same bytes; a text that packs
// unpacks to itself in upper case, and a long tag comes back as it was given.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/hart_commands.h"
#include "protocol/packed_ascii.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A parser's outcome agrees with the least length of its command's reply.
template <typename T>
void CheckOutcome(const char *what, uint8_t command, const Bytes &data, const std::optional<T> &value,
                  const std::string &problem, bool wholeSlots = true) {
  const HartCommandInfo *info = FindHartCommand(command);
  if (!info) fuzz::Fail(std::string(what) + ": no row in the command table");
  const bool enough = data.size() >= info->replyBytes && wholeSlots;
  if (value.has_value() != enough) fuzz::Fail(std::string(what) + ": a value against the reply's length");
  if (!value && problem.empty()) fuzz::Fail(std::string(what) + ": refused without a reason");
}

Bytes Head(const Bytes &data, size_t count) { return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count)); }

bool Finite(float f) { return std::isfinite(f); }

void ParsersOn(const Bytes &data) {
  std::string problem;
  const auto pv = ParsePrimaryVariable(data, &problem);
  CheckOutcome("command 1", hart::kReadPrimaryVariable, data, pv, problem);
  const auto loop = ParseLoopCurrent(data, &problem);
  CheckOutcome("command 2", hart::kReadLoopCurrentAndPercent, data, loop, problem);
  const auto polling = ParsePollingAddress(data, &problem);
  CheckOutcome("command 6", hart::kWritePollingAddress, data, polling, problem);

  const auto variables = ParseDeviceVariables(data, &problem);
  const size_t rest = data.empty() ? 0 : (data.size() - 1) % hart_field::kVariableSlotBytes;
  CheckOutcome("command 9", hart::kReadDeviceVariablesWithStatus, data, variables, problem,
               rest == 0 || rest == hart_field::kTimeStampBytes);
  if (variables && 1 + variables->variables.size() * hart_field::kVariableSlotBytes +
                           (variables->timeStamp ? hart_field::kTimeStampBytes : 0) != data.size())
    fuzz::Fail("command 9: slots and time stamp do not add up to the reply");

  const auto message = ParseMessage(data, &problem);
  CheckOutcome("command 12", hart::kReadMessage, data, message, problem);
  if (message && MessageRequest(*message).data != Head(data, 24)) fuzz::Fail("the message does not pack back");

  const auto tdd = ParseTagDescriptorDate(data, &problem);
  CheckOutcome("command 13", hart::kReadTagDescriptorDate, data, tdd, problem);
  if (tdd) {
    const HartRequestData again = TagDescriptorDateRequest(*tdd);
    if (DateProblem(tdd->date).empty() != again.problem.empty()) fuzz::Fail("command 18 refuses a good date or takes a bad one");
    if (again.problem.empty() && again.data != Head(data, 21)) fuzz::Fail("tag, descriptor and date do not pack back");
    if (!again.upperCased.empty()) fuzz::Fail("packed ASCII read back holds lower case");
  }

  const auto transducer = ParseTransducerInformation(data, &problem);
  CheckOutcome("command 14", hart::kReadTransducerInformation, data, transducer, problem);
  const auto device = ParseDeviceInformation(data, &problem);
  CheckOutcome("command 15", hart::kReadDeviceInformation, data, device, problem);
  if (device && device->analogChannelFlags.has_value() != (data.size() > 17)) fuzz::Fail("command 15's last byte");

  const auto assembly = ParseFinalAssemblyNumber(data, &problem);
  CheckOutcome("command 16", hart::kReadFinalAssemblyNumber, data, assembly, problem);
  if (assembly && FinalAssemblyNumberRequest(*assembly).data != Head(data, 3)) fuzz::Fail("final assembly number");

  const auto longTag = ParseLongTag(data, &problem);
  CheckOutcome("command 20", hart::kReadLongTag, data, longTag, problem);
  if (longTag) {
    const HartRequestData again = LongTagRequest(*longTag);
    if (!again.problem.empty()) fuzz::Fail("a long tag read back cannot be written: " + again.problem);
    if (ParseLongTag(again.data) != *longTag) fuzz::Fail("a long tag read back does not come back");
  }

  const auto damping = ParseDamping(data, &problem);
  CheckOutcome("command 34", hart::kWriteDampingValue, data, damping, problem);
  if (damping && Finite(*damping) && !std::signbit(*damping) && DampingRequest(*damping).data != Head(data, 4))
    fuzz::Fail("the damping does not encode back");

  const auto range = ParseRangeValues(data, &problem);
  CheckOutcome("command 35", hart::kWriteRangeValues, data, range, problem);
  if (range && Finite(range->upper) && Finite(range->lower) &&
      RangeValuesRequest(range->unit, range->upper, range->lower).data != Head(data, 9))
    fuzz::Fail("the range values do not encode back");

  const auto reset = ParseConfigurationReset(data, &problem);
  CheckOutcome("command 38", hart::kResetConfigurationChanged, data, reset, problem);
  if (reset && reset->counter && ResetConfigurationChangedRequest(reset->counter) != Head(data, 2))
    fuzz::Fail("the configuration change counter");

  const auto fixed = ParseFixedCurrent(data, &problem);
  CheckOutcome("command 40", hart::kEnterExitFixedCurrent, data, fixed, problem);
  if (fixed && Finite(*fixed) && !std::signbit(*fixed) && FixedCurrentRequest(*fixed).data != Head(data, 4))
    fuzz::Fail("the fixed current does not encode back");

  const auto unit = ParsePrimaryVariableUnits(data, &problem);
  CheckOutcome("command 44", hart::kWritePrimaryVariableUnits, data, unit, problem);
  const auto status = ParseAdditionalDeviceStatus(data, &problem);
  CheckOutcome("command 48", hart::kReadAdditionalDeviceStatus, data, status, problem);
  if (status && status->size() > hart_field::kMaxAdditionalStatusBytes) fuzz::Fail("command 48 keeps too much");
  const auto preambles = ParseResponsePreambles(data, &problem);
  CheckOutcome("command 59", hart::kWriteResponsePreambles, data, preambles, problem);
}

void PackedAsciiOn(const Bytes &data, const std::string &text) {
  // Any bytes unpack to the alphabet, and pack back to themselves.
  const std::string unpacked = UnpackAscii(data.data(), data.size());
  if (unpacked.size() != data.size() / 3 * 4) fuzz::Fail("four characters for every three bytes");
  if (FindUnpackable(unpacked)) fuzz::Fail("unpacked a character outside the alphabet");
  const PackedAscii repacked = PackAscii(unpacked, unpacked.size());
  if (!repacked.problem.empty() || repacked.turnedToUpperCase) fuzz::Fail("unpacked text does not pack");
  if (repacked.bytes != Head(data, data.size() / 3 * 3)) fuzz::Fail("packed ASCII does not come back");

  // Any text packs, or is refused with its reason, and unpacks to itself in upper case.
  const size_t width = 32;
  const PackedAscii packed = PackAscii(text, width);
  const auto bad = FindUnpackable(text);
  if (packed.problem.empty() == (bad.has_value() || text.size() > width)) fuzz::Fail("packed or refused wrongly");
  if (!packed.problem.empty()) {
    if (!packed.bytes.empty()) fuzz::Fail("bytes with a problem");
    if (bad && bad->character.empty()) fuzz::Fail("an unpackable character of no bytes");
    return;
  }
  std::string expected = text;
  bool lower = false;
  for (char &c : expected)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A'), lower = true;
  expected.resize(width, ' ');
  if (packed.bytes.size() != width / 4 * 3) fuzz::Fail("packed into the wrong width");
  if (UnpackAscii(packed.bytes.data(), packed.bytes.size()) != expected) fuzz::Fail("a packed text unpacks otherwise");
  if (packed.turnedToUpperCase != lower) fuzz::Fail("the turn to upper case is not reported as it happened");
}

void TextsOn(const std::string &text) {
  const HartRequestData longTag = LongTagRequest(text);
  if (longTag.problem.empty()) {
    if (longTag.data.size() != hart_field::kLongTagBytes) fuzz::Fail("a long tag of the wrong width");
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    if (ParseLongTag(longTag.data) != trimmed) fuzz::Fail("a long tag does not come back as given");
  } else if (!longTag.data.empty()) {
    fuzz::Fail("long tag bytes with a problem");
  }
  std::string problem;
  if (const auto date = ParseIsoDate(text, &problem)) {
    if (IsoDateText(*date) != text) fuzz::Fail("a date does not read back as given");
    if (!DateProblem(*date).empty()) fuzz::Fail("a date taken that is no day");
  } else if (problem.empty()) {
    fuzz::Fail("a date refused without a reason");
  }
  problem.clear();
  if (!ParseUnit(text, &problem) && problem.empty()) fuzz::Fail("a unit refused without a reason");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const Bytes bytes(data, data + size);
  const std::string text(data, data + size);
  ParsersOn(bytes);
  PackedAsciiOn(bytes, text);
  TextsOn(text);
  return 0;
}
