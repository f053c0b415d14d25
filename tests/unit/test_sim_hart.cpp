// The HART instrument behind the simulated module, spoken to with the frames the program builds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "protocol/hart.h"
#include "protocol/hart_answer.h"
#include "protocol/hart_commands.h"
#include "protocol/number_format.h"
#include "sim/hart_instrument.h"
#include "sim/module.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMaster = 0x80;

Bytes Ask(SimModule &module, const Bytes &request) { return module.Answer(request); }

std::string AskText(SimModule &module, const std::string &request) {
  const Bytes answer = module.Answer(Bytes(request.begin(), request.end()));
  return std::string(answer.begin(), answer.end());
}

// The position of the last preamble before `delimiter`, found the way the program's reply
// parsers look for it; -1 when absent.
int LastPreamble(const Bytes &reply, uint8_t delimiter) {
  for (size_t i = 0; i + 1 < reply.size(); ++i)
    if (reply[i] == 0xFF && reply[i + 1] == delimiter) return static_cast<int>(i);
  return -1;
}

// A reply's frame is sound: five preambles, a checksum over delimiter..data, the byte count
// matching what follows it.
void ExpectWellFormed(const Bytes &reply, size_t addressLength) {
  ASSERT_GE(reply.size(), 5u + 1 + addressLength + 2 + 2 + 1);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(reply[i], 0xFF);
  const size_t countAt = 5 + 1 + addressLength + 1;
  EXPECT_EQ(reply.size(), countAt + 1 + reply[countAt] + 1) << "byte count";
  EXPECT_EQ(HartChecksum(reply.data() + 5, reply.size() - 6), reply.back()) << "checksum";
}

HartIdentity Identity() {
  HartIdentity id;
  id.manufacturer = SimHartInstrument::kManufacturer;
  id.deviceType = SimHartInstrument::kDeviceType;
  id.deviceId = SimHartInstrument::kDeviceId;
  return id;
}

float FloatAt(const Bytes &reply, size_t at) {
  return FloatFromBytes(reply.at(at), reply.at(at + 1), reply.at(at + 2), reply.at(at + 3));
}

}  // namespace

TEST(SimHartInstrument, IdentityQueryAnswersAsTheProgramReadsIt) {
  SimModule module;
  // The program's identity query with its default seven preambles, primary master, address 0.
  const Bytes reply = Ask(module, HartShortFrame(7, kMaster, 0, 0x00));
  const Bytes expected = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE,
                          0x26, 0x06, 0x05, 0x05, 0x01, 0x01, 0x08, 0x00, 0x00, 0x12, 0x34, 0x78};
  EXPECT_EQ(reply, expected);
  ExpectWellFormed(reply, 1);
  const int i = LastPreamble(reply, 0x06);
  ASSERT_EQ(i, 4);
  EXPECT_EQ(reply[i + 8], SimHartInstrument::kManufacturer);
  EXPECT_EQ(reply[i + 9], SimHartInstrument::kDeviceType);
  EXPECT_EQ(reply[i + 10], 5);
  EXPECT_EQ((reply[i + 16] << 16) | (reply[i + 17] << 8) | reply[i + 18], 4660);

  // Any number of preambles, none included; the secondary master gets its own bit back.
  for (int preambles : {0, 1, 20}) {
    const Bytes secondary = Ask(module, HartShortFrame(preambles, 0x00, 0, 0x00));
    ASSERT_EQ(secondary.size(), expected.size()) << preambles;
    EXPECT_EQ(secondary[6], 0x00) << preambles;
  }

  // Command 0 also answers at the long address, with the long delimiter and the address echoed.
  const Bytes longReply = Ask(module, HartLongFrame(7, kMaster, Identity(), 0x00));
  ExpectWellFormed(longReply, 5);
  const int j = LastPreamble(longReply, 0x86);
  ASSERT_EQ(j, 4);
  EXPECT_EQ(Bytes(longReply.begin() + 6, longReply.begin() + 11), (Bytes{0xA6, 0x06, 0x00, 0x12, 0x34}));
  EXPECT_EQ(longReply[j + 12], SimHartInstrument::kManufacturer) << "data starts four bytes later";
}

TEST(SimHartInstrument, DynamicVariablesAtTheirDistances) {
  SimModule module;
  const Bytes reply = Ask(module, HartLongFrame(7, kMaster, Identity(), 0x03));
  ExpectWellFormed(reply, 5);
  const int i = LastPreamble(reply, 0x86);
  ASSERT_EQ(i, 4);
  EXPECT_EQ(reply[i + 7], 0x03);
  EXPECT_EQ(reply[i + 8], 26);
  EXPECT_EQ(reply[i + 9], 0x00);
  EXPECT_EQ(reply[i + 10], 0x00);
  // Clock at 0: the round values.
  EXPECT_EQ(FloatAt(reply, i + 11), 12.0f);
  const uint8_t units[4] = {19, 32, 7, 43};
  const float values[4] = {60.0f, 21.5f, 2.5f, 1000.0f};
  for (size_t v = 0; v < 4; ++v) {
    EXPECT_EQ(reply[i + 15 + 5 * v], units[v]) << v;
    EXPECT_EQ(FloatAt(reply, i + 16 + 5 * v), values[v]) << v;
    EXPECT_NE(UnitPosition(units[v]), kUnitCount - 1) << "a unit the program's list knows";
  }

  // The values follow the clock, and a frozen clock holds them.
  module.SetClock(37.25);
  const Bytes later = Ask(module, HartLongFrame(5, kMaster, Identity(), 0x03));
  EXPECT_EQ(later, Ask(module, HartLongFrame(5, kMaster, Identity(), 0x03)));
  const HartProcessValues expected = SimHartInstrument::ValuesAt(37.25);
  EXPECT_EQ(FloatAt(later, 4 + 11), expected.current);
  for (size_t v = 0; v < 4; ++v) EXPECT_EQ(FloatAt(later, 4 + 16 + 5 * v), expected.variables[v].value) << v;
  EXPECT_NE(FloatAt(later, 4 + 11), 12.0f);
}

TEST(SimHartInstrument, ValuesStayPlausibleOverTime) {
  float lastVolume = 0;
  for (double t = 0; t < 3600; t += 7.5) {
    const HartProcessValues v = SimHartInstrument::ValuesAt(t);
    EXPECT_GE(v.current, 4.0f) << t;
    EXPECT_LE(v.current, 20.0f) << t;
    EXPECT_NEAR(v.variables[0].value, (v.current - 4) / 16 * 120, 1e-3) << "flow follows the current";
    EXPECT_GE(v.variables[3].value, lastVolume) << "the totalizer never runs backwards, t=" << t;
    lastVolume = v.variables[3].value;
  }
  EXPECT_NEAR(SimHartInstrument::ValuesAt(3600).variables[3].value, 1000 + 60.0, 0.01)
      << "one hour at an average of 60 m3/h";
}

TEST(SimHartInstrument, SilentForFramesNotMeantForIt) {
  SimModule module;
  const Bytes good = HartLongFrame(5, kMaster, Identity(), 0x03);
  ASSERT_FALSE(Ask(module, good).empty());

  Bytes badChecksum = good;
  badChecksum.back() ^= 0x01;
  EXPECT_TRUE(Ask(module, badChecksum).empty());

  // Every address byte matters, except the master and burst bits and the manufacturer's top bits.
  for (size_t at = 6; at <= 10; ++at) {
    Bytes other = good;
    other[at] ^= 0x01;
    other.back() ^= 0x01;  // checksum kept right
    EXPECT_TRUE(Ask(module, other).empty()) << "address byte " << at - 5;
  }
  Bytes burst = good;
  burst[6] ^= 0x40;
  burst.back() ^= 0x40;
  EXPECT_FALSE(Ask(module, burst).empty());

  // A long frame to the all-zero identity (sent before any identity query) is nobody's.
  EXPECT_TRUE(Ask(module, HartLongFrame(5, kMaster, HartIdentity{}, 0x03)).empty());
  // Another polling address; command 3 and unknown commands at the short address.
  EXPECT_TRUE(Ask(module, HartShortFrame(5, kMaster, 1, 0x00)).empty());
  EXPECT_TRUE(Ask(module, HartShortFrame(5, kMaster, 0, 0x03)).empty());
  EXPECT_TRUE(Ask(module, HartShortFrame(5, kMaster, 0, 0x30)).empty());

  // Cut short anywhere: no answer, and nothing read beyond the bytes given.
  const Bytes withData = HartLongFrame(3, kMaster, Identity(), 0x06, {0x02});
  for (size_t length = 0; length < withData.size(); ++length)
    EXPECT_TRUE(Ask(module, Bytes(withData.begin(), withData.begin() + length)).empty()) << length;
  // A byte count that runs past the end of what arrived.
  Bytes overlong = HartShortFrame(2, kMaster, 0, 0x00);
  overlong[5] = 0xFF;
  overlong.back() = HartChecksum(overlong.data() + 2, 4);
  EXPECT_TRUE(Ask(module, overlong).empty());
  EXPECT_EQ(module.Instrument().PollingAddress(), 0) << "no cut frame took effect";
}

TEST(SimHartInstrument, UnknownCommandAtLongAddressIsNotImplemented) {
  SimModule module;
  const Bytes reply = Ask(module, HartLongFrame(5, kMaster, Identity(), hart::kPerformDeviceReset, {0x01, 0x02}));
  ExpectWellFormed(reply, 5);
  EXPECT_EQ(reply[11], hart::kPerformDeviceReset);
  EXPECT_EQ(reply[12], 2);
  EXPECT_EQ(reply[13], hart::kCommandNotImplemented);
  EXPECT_EQ(reply[14], 0x00);
}

TEST(SimHartInstrument, OnlyTheTransparentModePassesHart) {
  SimModule module;
  const Bytes identity = HartShortFrame(7, kMaster, 0, 0x00);
  for (const char *mode : {"QQS#MD:1#", "QQS#MD:2#"}) {
    ASSERT_EQ(AskText(module, mode), "OK#");
    EXPECT_TRUE(Ask(module, identity).empty()) << mode;
    EXPECT_TRUE(Ask(module, HartLongFrame(7, kMaster, Identity(), 0x06, {0x03})).empty()) << mode;
  }
  EXPECT_EQ(module.Instrument().PollingAddress(), 0);
  ASSERT_EQ(AskText(module, "QQS#MD:0#"), "OK#");
  EXPECT_FALSE(Ask(module, identity).empty());
  // The parameter initialization goes back to the transparent mode.
  ASSERT_EQ(AskText(module, "QQS#MD:1#"), "OK#");
  ASSERT_EQ(AskText(module, "QQS#RESET#"), "OK#");
  EXPECT_FALSE(Ask(module, identity).empty());
}

TEST(SimHartInstrument, PollingAddressChange) {
  SimModule module;
  // Command 6 at the long address, as the program sends it; the reply carries the new address.
  Bytes reply = Ask(module, HartLongFrame(7, kMaster, Identity(), 0x06, {0x03}));
  ExpectWellFormed(reply, 5);
  EXPECT_EQ(reply[11], 0x06);
  EXPECT_EQ(reply[12], 3);
  EXPECT_EQ(reply[13], 0x00);
  EXPECT_EQ(reply[15], 3);
  EXPECT_EQ(module.Instrument().PollingAddress(), 3);
  EXPECT_TRUE(Ask(module, HartShortFrame(7, kMaster, 0, 0x00)).empty());
  reply = Ask(module, HartShortFrame(7, kMaster, 3, 0x00));
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[6], 0x83);

  // At the short address: the reply still names the address the request used.
  reply = Ask(module, HartShortFrame(7, 0x00, 3, 0x06, {0x3F}));
  ExpectWellFormed(reply, 1);
  EXPECT_EQ(reply[6], 0x03);
  EXPECT_EQ(reply[11], 0x3F);
  EXPECT_EQ(module.Instrument().PollingAddress(), 63);

  // Beyond 63, or no data byte: refused with a response code, the address stays.
  reply = Ask(module, HartShortFrame(7, kMaster, 63, 0x06, {64}));
  ExpectWellFormed(reply, 1);
  EXPECT_EQ(reply[9], hart::kInvalidSelection);
  reply = Ask(module, HartShortFrame(7, kMaster, 63, 0x06));
  ExpectWellFormed(reply, 1);
  EXPECT_EQ(reply[9], hart::kTooFewDataBytes);
  EXPECT_EQ(module.Instrument().PollingAddress(), 63);

  // Command 3 does not care about the polling address.
  EXPECT_FALSE(Ask(module, HartLongFrame(7, kMaster, Identity(), 0x03)).empty());
}

TEST(SimHartInstrument, RandomFramesGetNoneOrASoundReply) {
  SimModule module;
  std::mt19937 random(735);
  const uint8_t commands[] = {0, 3, 6, 48};
  size_t answered = 0;
  for (int round = 0; round < 20000 && !::testing::Test::HasFailure(); ++round) {
    // Near-valid frames: right or wrong address, count, checksum and length, in any mix.
    const bool isLong = random() % 2;
    Bytes frame(random() % 4, 0xFF);
    const size_t delimiterAt = frame.size();
    frame.push_back(isLong ? 0x82 : 0x02);
    if (isLong) {
      const Bytes address = random() % 2 ? Bytes{0xA6, 0x06, 0x00, 0x12, 0x34} : Bytes{0x80, 0x06, 0x00, 0x12, 0x35};
      frame.insert(frame.end(), address.begin(), address.end());
    } else {
      frame.push_back(static_cast<uint8_t>((random() % 2 ? 0x80 : 0x00) | random() % 4));
    }
    frame.push_back(commands[random() % 4]);
    const size_t count = random() % 3;
    frame.push_back(static_cast<uint8_t>(random() % 8 ? count : random() % 256));
    for (size_t i = 0; i < count; ++i) frame.push_back(static_cast<uint8_t>(random() % 8));
    uint8_t checksum = HartChecksum(&frame[delimiterAt], frame.size() - delimiterAt);
    if (random() % 8 == 0) checksum ^= 0x10;
    frame.push_back(checksum);
    if (random() % 8 == 0) frame.resize(random() % frame.size());

    const Bytes reply = Ask(module, frame);
    if (reply.empty()) continue;
    ++answered;
    ASSERT_GE(reply.size(), 6u);
    ExpectWellFormed(reply, reply[5] == 0x86 ? 5 : 1);
  }
  EXPECT_GT(answered, 1000u);
}

namespace {

// The instrument as the communicator talks to it: addressed as its command 0 says, every reply
// checked before its data are read.
struct Communicator {
  SimHartInstrument instrument;
  IdentityReply identity;
  double clock = 0;

  explicit Communicator(SimHartOptions options = {}) : instrument(options) {
    const Bytes reply = instrument.Answer(HartShortFrame(5, kMaster, 0, hart::kReadUniqueIdentifier), 0);
    identity = ReadIdentityReply(reply.data(), static_cast<int>(reply.size()), static_cast<int>(reply.size())).value();
  }
  HartAnswer Send(const Bytes &frame) {
    const Bytes reply = instrument.Answer(frame, clock);
    return CheckHartAnswer(frame, reply.data(), reply.size());
  }
  HartAnswer Ask(uint8_t command, const Bytes &data = {}) {
    const HartRequest request = BuildHartRequest(identity, command, data);
    EXPECT_TRUE(request.problem.empty()) << request.problem;
    return Send(request.frame);
  }
  // Sent as typed, past the builders' checks: what the instrument itself refuses.
  uint8_t Code(uint8_t command, const Bytes &data = {}) {
    return Send(HartLongFrame(5, kMaster, {kManufacturerBits, SimHartInstrument::kDeviceType, SimHartInstrument::kDeviceId},
                              command, data))
        .status;
  }
  static constexpr uint8_t kManufacturerBits = SimHartInstrument::kManufacturer;
  // The data of a reply that must be good.
  Bytes Data(uint8_t command, const Bytes &data = {}) {
    const HartAnswer answer = Ask(command, data);
    EXPECT_EQ(answer.verdict, HartVerdict::Data) << int{command} << ": " << answer.Reason();
    EXPECT_EQ(answer.status, hart::kSuccess) << int{command};
    return answer.data;
  }
};

Bytes Float(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits)};
}

}  // namespace

TEST(SimHartInstrument, EveryWriteReadsBackThroughTheParsers) {
  Communicator c({7, false});
  EXPECT_EQ(c.identity.universalRevision, 7);
  EXPECT_EQ(c.Ask(hart::kReadMessage).deviceStatus & hart::kConfigurationChanged, 0);

  const HartRequestData message = MessageRequest("loop 7 commissioned");
  EXPECT_EQ(ParseMessage(c.Data(hart::kWriteMessage, message.data)), "LOOP 7 COMMISSIONED");
  EXPECT_EQ(ParseMessage(c.Data(hart::kReadMessage)), "LOOP 7 COMMISSIONED");

  const HartTagDescriptorDate tdd{"PT-204", "STEAM HEADER", {2026, 12, 9}};
  c.Data(hart::kWriteTagDescriptorDate, TagDescriptorDateRequest(tdd).data);
  const auto readTdd = ParseTagDescriptorDate(c.Data(hart::kReadTagDescriptorDate));
  ASSERT_TRUE(readTdd);
  EXPECT_EQ(readTdd->tag, tdd.tag);
  EXPECT_EQ(readTdd->descriptor, tdd.descriptor);
  EXPECT_EQ(readTdd->date, tdd.date);

  EXPECT_EQ(ParseFinalAssemblyNumber(c.Data(hart::kWriteFinalAssemblyNumber, FinalAssemblyNumberRequest(16777215).data)),
            16777215u);
  EXPECT_EQ(ParseFinalAssemblyNumber(c.Data(hart::kReadFinalAssemblyNumber)), 16777215u);
  c.Data(hart::kWriteLongTag, LongTagRequest("Dampfkessel Süd, Linie 2").data);
  EXPECT_EQ(ParseLongTag(c.Data(hart::kReadLongTag)), "Dampfkessel Süd, Linie 2");

  EXPECT_EQ(ParseDamping(c.Data(hart::kWriteDampingValue, DampingRequest(2.5).data)), 2.5f);
  c.Data(hart::kWriteRangeValues, RangeValuesRequest(ParseUnit("l_min").value(), 150, 10).data);
  c.Data(hart::kWritePrimaryVariableUnits, PrimaryVariableUnitsRequest(ParseUnit("CuMtr_hr").value()));
  const auto info = ParseDeviceInformation(c.Data(hart::kReadDeviceInformation));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->damping, 2.5f);
  EXPECT_EQ(info->upperRange, 150.0f);
  EXPECT_EQ(info->lowerRange, 10.0f);
  EXPECT_EQ(info->rangeUnit, 19) << "one unit for the primary variable and its range";
  EXPECT_EQ(info->writeProtect, hart::kNotWriteProtected);
  EXPECT_TRUE(info->analogChannelFlags);
  EXPECT_EQ(ParsePrimaryVariable(c.Data(hart::kReadPrimaryVariable))->unit, 19);

  // The response preambles count from this reply on, and command 0 of revision 7 tells them.
  c.Data(hart::kWriteResponsePreambles, ResponsePreamblesRequest(9).data);
  const Bytes identity = c.instrument.Answer(HartShortFrame(5, kMaster, 0, hart::kReadUniqueIdentifier), 0);
  Bytes nine(9, 0xFF);
  nine.push_back(hart::kShortReply);
  EXPECT_EQ(Bytes(identity.begin(), identity.begin() + 10), nine);
  const HartAnswer zero = CheckHartAnswer(HartShortFrame(5, kMaster, 0, 0), identity.data(), identity.size());
  ASSERT_EQ(zero.data.size(), hart_answer::kRevision7IdentityLength - hart_answer::kStatusBytes);
  EXPECT_EQ(zero.data[hart_answer::kResponsePreambleNeed - 2], 9);

  c.Data(hart::kWritePollingAddress, PollingAddressRequest(5).data);
  EXPECT_EQ(c.instrument.PollingAddress(), 5);

  // Configuration changed until command 38 carries the counter the instrument holds.
  const HartAnswer changed = c.Ask(hart::kReadMessage);
  EXPECT_TRUE(changed.deviceStatus & hart::kConfigurationChanged);
  constexpr size_t kCounter = hart_answer::kConfigurationChangeCounter - hart_answer::kStatusBytes;
  const uint16_t counter = static_cast<uint16_t>(zero.data[kCounter] << 8 | zero.data[kCounter + 1]);
  EXPECT_EQ(counter, 8) << "eight writes so far, the preambles' included";
  EXPECT_EQ(c.Ask(hart::kResetConfigurationChanged, ResetConfigurationChangedRequest(counter - 1)).status,
            hart::kConfigurationChangeCounterMismatch);
  const uint16_t now = static_cast<uint16_t>(counter + 1);  // the polling address came after
  EXPECT_EQ(ParseConfigurationReset(c.Data(hart::kResetConfigurationChanged, ResetConfigurationChangedRequest(now)))
                ->counter,
            now);
  EXPECT_EQ(c.Ask(hart::kReadMessage).deviceStatus & hart::kConfigurationChanged, 0);
}

TEST(SimHartInstrument, RevisionFiveLacksTheLaterCommandsAndFieldsAndSixGetsThem) {
  Communicator five;
  EXPECT_EQ(five.identity.universalRevision, 5);
  for (uint8_t command : {hart::kReadLongTag, hart::kWriteLongTag, hart::kReadDeviceVariablesWithStatus}) {
    EXPECT_FALSE(BuildHartRequest(five.identity, command, Bytes(32)).problem.empty()) << "refused before sent";
    EXPECT_EQ(five.Code(command, Bytes(32)), hart::kCommandNotImplemented) << int{command};
  }
  EXPECT_EQ(five.Data(hart::kReadDeviceInformation).size(), 17u);
  EXPECT_EQ(ParseConfigurationReset(five.Data(hart::kResetConfigurationChanged))->counter, std::nullopt);
  EXPECT_EQ(five.Data(hart::kReadAdditionalDeviceStatus).size(), 6u);

  Communicator seven({7, false});
  const auto variables = ParseDeviceVariables(seven.Data(
      hart::kReadDeviceVariablesWithStatus,
      DeviceVariablesRequest({hart::kPrimaryVariableCode, 2, hart::kLoopCurrentVariable, 77}, 7).data));
  ASSERT_TRUE(variables);
  ASSERT_EQ(variables->variables.size(), 4u);
  EXPECT_EQ(variables->variables[0].value, 60.0f);
  EXPECT_EQ(variables->variables[0].status & hart::kVariableQualityMask, hart::kVariableGood);
  EXPECT_EQ(variables->variables[1].unit, SimHartInstrument::kUnitBar);
  EXPECT_EQ(variables->variables[2].value, 12.0f);
  EXPECT_EQ(variables->variables[3].unit, hart::kUnitNotUsed) << "no variable 77";
  EXPECT_TRUE(std::isnan(variables->variables[3].value));
  EXPECT_TRUE(variables->timeStamp);
}

TEST(SimHartInstrument, WriteProtectionRefusesEveryWriteAndChangesNothing) {
  Communicator c({5, true});
  const Bytes before13 = c.Data(hart::kReadTagDescriptorDate), before15 = c.Data(hart::kReadDeviceInformation);
  EXPECT_EQ(ParseDeviceInformation(before15)->writeProtect, hart::kWriteProtected);
  const std::pair<uint8_t, Bytes> writes[] = {
      {hart::kWritePollingAddress, {3}},
      {hart::kWriteMessage, MessageRequest("X").data},
      {hart::kWriteTagDescriptorDate, TagDescriptorDateRequest({"X", "Y", {2000, 1, 1}}).data},
      {hart::kWriteFinalAssemblyNumber, {0, 0, 1}},
      {hart::kWriteDampingValue, Float(1)},
      {hart::kWriteRangeValues, RangeValuesRequest(19, 100, 0).data},
      {hart::kWritePrimaryVariableUnits, {7}},
      {hart::kWriteResponsePreambles, {7}},
  };
  for (const auto &[command, data] : writes) {
    const HartAnswer answer = c.Ask(command, data);
    EXPECT_EQ(answer.verdict, HartVerdict::Refused) << int{command};
    EXPECT_EQ(answer.Reason(), "7 in write-protect mode") << int{command};
  }
  EXPECT_EQ(c.Data(hart::kReadTagDescriptorDate), before13);
  EXPECT_EQ(c.Data(hart::kReadDeviceInformation), before15);
  EXPECT_EQ(c.instrument.PollingAddress(), 0);
  EXPECT_EQ(c.Ask(hart::kReadMessage).deviceStatus, 0) << "nothing changed";
  EXPECT_EQ(c.Ask(hart::kEnterExitFixedCurrent, FixedCurrentRequest(4).data).status, hart::kSuccess)
      << "a loop test writes no setting";
}

TEST(SimHartInstrument, FixedCurrentDrivesWhatItReportsUntilLeft) {
  Communicator c;
  c.Data(hart::kWriteRangeValues, RangeValuesRequest(19, 150, 50).data);
  c.Data(hart::kResetConfigurationChanged);
  for (float mA : {4.0f, 12.0f, 20.0f}) {
    EXPECT_EQ(ParseFixedCurrent(c.Data(hart::kEnterExitFixedCurrent, FixedCurrentRequest(mA).data)), mA);
    const HartAnswer two = c.Ask(hart::kReadLoopCurrentAndPercent);
    EXPECT_EQ(two.deviceStatus, hart::kLoopCurrentFixed) << "only the fixed current to report";
    const auto loop = ParseLoopCurrent(two.data);
    EXPECT_EQ(loop->milliamperes, mA);
    EXPECT_FLOAT_EQ(loop->percentOfRange, (mA - 4) / 16 * 100);
    EXPECT_FLOAT_EQ(ParsePrimaryVariable(c.Data(hart::kReadPrimaryVariable))->value, 50 + (mA - 4) / 16 * 100);
    const Bytes three = c.Data(hart::kReadDynamicVariables);
    EXPECT_EQ(FloatAt(three, 0), mA);
  }
  EXPECT_EQ(c.Code(hart::kEnterExitFixedCurrent, Float(3.0f)), hart::kParameterTooSmall);
  EXPECT_EQ(c.Code(hart::kEnterExitFixedCurrent, Float(22.0f)), hart::kParameterTooLarge);
  EXPECT_TRUE(c.instrument.CurrentFixed()) << "a refused value leaves the fixed current as it was";

  c.Data(hart::kEnterExitFixedCurrent, FixedCurrentRequest(hart::kLeaveFixedCurrent).data);
  const HartAnswer after = c.Ask(hart::kReadLoopCurrentAndPercent);
  EXPECT_EQ(after.deviceStatus, 0);
  // Back to the flow, 60 m3/h at time 0, on the range 50 to 150.
  EXPECT_FLOAT_EQ(ParseLoopCurrent(after.data)->milliamperes, 4 + 0.1f * 16);
  EXPECT_FLOAT_EQ(ParseLoopCurrent(after.data)->percentOfRange, 10);
}

TEST(SimHartInstrument, RefusesWithTheResponseCodeThatFits) {
  Communicator c;
  EXPECT_EQ(c.Code(hart::kWriteTagDescriptorDate, Bytes(20, 0x20)), hart::kTooFewDataBytes);
  EXPECT_EQ(c.Code(hart::kWriteRangeValues, Bytes(8)), hart::kTooFewDataBytes);
  EXPECT_EQ(c.Code(hart::kWriteDampingValue), hart::kTooFewDataBytes);
  EXPECT_EQ(c.Code(hart::kWriteDampingValue, Float(40)), hart::kParameterTooLarge);
  EXPECT_EQ(c.Code(hart::kWriteDampingValue, Float(-1)), hart::kParameterTooSmall);
  EXPECT_EQ(c.Code(hart::kWriteResponsePreambles, {4}), hart::kParameterTooSmall);
  EXPECT_EQ(c.Code(hart::kWriteResponsePreambles, {21}), hart::kParameterTooLarge);
  EXPECT_EQ(c.Code(hart::kWritePrimaryVariableUnits, {200}), hart::kInvalidSelection) << "no unit of the list";
  EXPECT_EQ(c.Code(hart::kWriteRangeValues, RangeValuesRequest(19, 100, -1).data), hart::kLowerRangeValueTooLow);
  EXPECT_EQ(c.Code(hart::kWriteRangeValues, RangeValuesRequest(19, 250, 0).data), hart::kUpperRangeValueTooHigh);
  EXPECT_EQ(c.Code(hart::kWriteRangeValues, RangeValuesRequest(19, 50.5, 50).data), hart::kInvalidSpan);
  EXPECT_EQ(c.Code(hart::kWriteRangeValues, RangeValuesRequest(19, 50, 100).data), hart::kInvalidSpan);
  EXPECT_EQ(c.Ask(hart::kReadMessage).deviceStatus, 0) << "nothing was taken";

  // A range the flow leaves: the current stops at what the output can drive, and says so.
  c.Data(hart::kWriteRangeValues, RangeValuesRequest(19, 40, 0).data);
  const HartAnswer saturated = c.Ask(hart::kReadLoopCurrentAndPercent);
  EXPECT_TRUE(saturated.deviceStatus & hart::kLoopCurrentSaturated);
  EXPECT_EQ(ParseLoopCurrent(saturated.data)->milliamperes, SimHartInstrument::kHighestCurrent);
  EXPECT_FLOAT_EQ(ParseLoopCurrent(saturated.data)->percentOfRange, 150);
}
