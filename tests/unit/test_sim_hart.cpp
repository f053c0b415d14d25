// The HART instrument behind the simulated module, spoken to with the frames the program builds.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "protocol/hart.h"
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
  const Bytes reply = Ask(module, HartLongFrame(5, kMaster, Identity(), 48, {0x01, 0x02}));
  ExpectWellFormed(reply, 5);
  EXPECT_EQ(reply[11], 48);
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
