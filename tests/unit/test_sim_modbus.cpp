// The simulated module's MODBUS side: the parameter reply read as the program reads it, the
// meter settings behind it, and the RTU slave with its holding registers.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "protocol/config_frame.h"
#include "protocol/number_format.h"
#include "sim/modbus_slave.h"
#include "sim/module.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Ask(SimModule &module, const std::string &request) {
  const Bytes answer = module.Answer(Bytes(request.begin(), request.end()));
  return std::string(answer.begin(), answer.end());
}

// The first place where the pattern stands, '?' matching any character; npos when absent.
size_t FindKey(const std::string &reply, const std::string &pattern) {
  for (size_t at = 0; at + pattern.size() <= reply.size(); ++at) {
    bool match = true;
    for (size_t i = 0; i < pattern.size() && match; ++i)
      match = pattern[i] == '?' || reply[at + i] == pattern[i];
    if (match) return at;
  }
  return std::string::npos;
}

// The MODBUS parameter reply taken apart at the fixed distances the program reads.
struct MeterReply {
  std::string fmwMode, factor;
  std::string enabled, deviceMode, meterType, preamble, clearTime;
  std::string formats;
  std::string addressBits, records[4];
  std::string mode;
  std::string camdEnabled[2], camdText[2];
};

MeterReply ReadMeterReply(const std::string &reply) {
  MeterReply r;
  EXPECT_LE(reply.size(), static_cast<size_t>(kReplyTextMax));
  EXPECT_NE(reply.find("QQ"), std::string::npos) << reply;
  auto at = [&reply](const std::string &pattern, size_t from, size_t count) {
    const size_t k = FindKey(reply, pattern);
    if (k == std::string::npos || k + from + count > reply.size()) return std::string("<missing>");
    return reply.substr(k + from, count);
  };
  r.fmwMode = at("FMW:", 4, 1);
  r.factor = at("FMW:", 6, 5);
  r.enabled = at("HART?:", 6, 1);
  r.deviceMode = at("HART?:", 8, 1);
  r.meterType = at("HART?:", 10, 2);
  r.preamble = at("HART?:", 13, 1);
  r.clearTime = at("HART?:", 15, 3);
  r.formats = at("DFO?:", 5, 5);
  r.addressBits = at("ZDY?:", 5, 1);
  for (size_t v = 0; v < 4; ++v) r.records[v] = at("ZDY?:", 7 + 5 * v, 4);
  r.mode = at("MD:", 3, 1);
  for (size_t c = 0; c < 2; ++c) {
    const std::string key = std::string("CAMD?") + static_cast<char>('1' + c) + ":";
    r.camdEnabled[c] = at(key, 7, 1);
    const std::string count = at(key, 9, 2);
    const int n = count.size() == 2 ? (count[0] - '0') * 10 + (count[1] - '0') : -1;
    r.camdText[c] = n <= 0 ? std::string() : at(key, 12, static_cast<size_t>(3 * n - 1));
  }
  return r;
}

Bytes WithCrc(Bytes frame) {
  AppendModbusCrc(&frame);
  return frame;
}

Bytes ReadRequest(uint8_t slave, uint16_t start, uint16_t count) {
  return WithCrc({slave, 0x03, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start & 0xFF),
                  static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF)});
}

// The registers of a well-formed read reply, checked for slave, function, byte count and CRC.
std::vector<uint16_t> Registers(const Bytes &reply, uint8_t slave, size_t count) {
  EXPECT_TRUE(ModbusCrcValid(reply));
  if (reply.size() != 5 + 2 * count || reply[0] != slave || reply[1] != 0x03 || reply[2] != 2 * count) {
    ADD_FAILURE() << "not a read reply of " << count << " registers";
    return {};
  }
  std::vector<uint16_t> registers;
  for (size_t i = 0; i < count; ++i) registers.push_back(static_cast<uint16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]));
  return registers;
}

// One 32-bit value out of its register pair, decoded by the format's description.
float DecodeFloat(uint16_t first, uint16_t second, int format) {
  const uint16_t high = format == 0 ? first : second;
  const uint16_t low = format == 0 ? second : first;
  return FloatFromBytes(static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high & 0xFF),
                        static_cast<uint8_t>(low >> 8), static_cast<uint8_t>(low & 0xFF));
}

uint32_t DecodeUnsigned(uint16_t first, uint16_t second, int format) {
  return format == 2 ? (uint32_t{first} << 16 | second) : (uint32_t{second} << 16 | first);
}

Bytes Exception(uint8_t slave, uint8_t function, uint8_t code) {
  return WithCrc({slave, static_cast<uint8_t>(function | 0x80), code});
}

}  // namespace

TEST(SimModbusCrc, CheckValues) {
  const std::string digits = "123456789";
  EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t *>(digits.data()), digits.size()), 0x4B37);
  EXPECT_EQ(ReadRequest(1, 0, 10), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  EXPECT_EQ(ReadRequest(1, 0, 1), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
  EXPECT_TRUE(ModbusCrcValid({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  EXPECT_FALSE(ModbusCrcValid({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xC5}));
  EXPECT_FALSE(ModbusCrcValid({0xFF, 0xFF}));
  EXPECT_FALSE(ModbusCrcValid({}));
}

TEST(SimModbusParameters, DefaultReplyParses) {
  SimModule module;
  const std::string reply = Ask(module, "QQQ#QQ0#");
  const MeterReply r = ReadMeterReply(reply);
  EXPECT_EQ(r.fmwMode, "0");
  EXPECT_EQ(r.factor, "0.001");
  EXPECT_EQ(r.enabled, "1");
  EXPECT_EQ(r.deviceMode, "0");
  EXPECT_EQ(r.meterType, "00");
  EXPECT_EQ(r.preamble, "5");
  EXPECT_EQ(r.clearTime, "060");
  EXPECT_EQ(r.formats, "00000");
  EXPECT_EQ(r.addressBits, "8");
  EXPECT_EQ(r.mode, "0");
  for (size_t c = 0; c < 2; ++c) {
    EXPECT_EQ(r.camdEnabled[c], "0");
    EXPECT_EQ(r.camdText[c], "");
  }
  // Every character the program reads as a number is a digit.
  for (const std::string &digit : {r.fmwMode, r.enabled, r.deviceMode, r.preamble, r.addressBits, r.mode})
    EXPECT_TRUE(digit.size() == 1 && std::isdigit(static_cast<unsigned char>(digit[0]))) << reply;
}

TEST(SimModbusParameters, SettingsComeBackAtTheirPlacesWithinTheLimit) {
  SimModule module;
  // Both custom commands at their longest, with bytes that look like the reply's own
  // characters ('Q', '#', ':', ',').
  std::string camd1 = "QQS#CAMD01:1<14,";
  std::string camd2 = "QQS#CAMD02:1<14,";
  const Bytes payload = {0x51, 0x51, 0x23, 0x3A, 0x2C, 0x00, 0xFF, 0x7E, 0x0A, 0x0D, 0x4D, 0x44, 0x3A, 0x01};
  camd1.append(payload.begin(), payload.end());
  camd2.append(payload.rbegin(), payload.rend());
  for (const std::string &frame :
       {std::string("QQS#HART0:0,1,15,9,999#"), std::string("QQS#DFOT0:13210#"),
        std::string("QQS#MDBS0:9,1991,2051,0000,2990#"), std::string("QQS#MD:2#"),
        std::string("QQS#FMW:3,MD:7,#"), camd1, camd2})
    ASSERT_EQ(Ask(module, frame), "OK#") << frame;

  const std::string reply = Ask(module, "QQQ#QQ0#");
  EXPECT_LE(reply.size(), static_cast<size_t>(kReplyTextMax));
  const MeterReply r = ReadMeterReply(reply);
  EXPECT_EQ(r.enabled, "0");
  EXPECT_EQ(r.deviceMode, "1");
  EXPECT_EQ(r.meterType, "15");
  EXPECT_EQ(r.preamble, "9");
  EXPECT_EQ(r.clearTime, "999");
  EXPECT_EQ(r.formats, "13210");
  EXPECT_EQ(r.addressBits, "9");
  EXPECT_EQ(r.records[0], "1991");
  EXPECT_EQ(r.records[1], "2051");
  EXPECT_EQ(r.records[2], "0000");
  EXPECT_EQ(r.records[3], "2990");
  EXPECT_EQ(r.mode, "2") << "the factor's text must not pass for the mode group";
  EXPECT_EQ(r.fmwMode, "3");
  EXPECT_EQ(r.factor, "MD:7,");
  EXPECT_EQ(r.camdEnabled[0], "1");
  EXPECT_EQ(r.camdText[0], "51 51 23 3A 2C 00 FF 7E 0A 0D 4D 44 3A 01");
  EXPECT_EQ(r.camdText[1], "01 3A 44 4D 0D 0A 7E FF 00 2C 3A 23 51 51");
  for (char c : reply) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "printable text only";

  // The custom format example of the settings page returns as sent.
  ASSERT_EQ(Ask(module, "QQS#MDBS0:8,1100,2051,0000,0000#"), "OK#");
  const std::string again = Ask(module, "QQQ#QQ0#");
  const size_t zdy = FindKey(again, "ZDY?:");
  ASSERT_NE(zdy, std::string::npos);
  EXPECT_EQ(again.substr(zdy, 26), "ZDY0:8,1100,2051,0000,0000");
}

TEST(SimModbusParameters, EachDeviceDigitKeepsItsOwnSettings) {
  SimModule module;
  ASSERT_EQ(Ask(module, "QQS#HART3:1,1,07,6,120#"), "OK#");
  ASSERT_EQ(Ask(module, "QQS#DFOT3:11111#"), "OK#");
  const MeterReply three = ReadMeterReply(Ask(module, "QQQ#QQ3#"));
  EXPECT_EQ(three.meterType, "07");
  EXPECT_EQ(three.formats, "11111");
  const MeterReply zero = ReadMeterReply(Ask(module, "QQQ#QQ0#"));
  EXPECT_EQ(zero.meterType, "00");
  EXPECT_EQ(zero.formats, "00000");
  // Only meter 0 is published: its registers keep the float format.
  const std::vector<uint16_t> registers = Registers(module.Answer(ReadRequest(1, 0, 2)), 1, 2);
  ASSERT_EQ(registers.size(), 2u);
  EXPECT_EQ(DecodeFloat(registers[0], registers[1], 0), 12.0f);
}

TEST(SimModbusParameters, MalformedSettingsAreRefusedAndChangeNothing) {
  SimModule module;
  const std::string before = Ask(module, "QQQ#QQ0#");
  const std::string refused[] = {
      "QQS#HART0:1,0,16,4,060#", "QQS#HART0:2,0,00,4,060#", "QQS#HART0:1,2,00,4,060#",
      "QQS#HART0:1,0,00,3,060#", "QQS#HART0:1,0,00,:,060#", "QQS#HART0:1,0,00,4,06#",
      "QQS#HART0:1,0,0a,4,060#", "QQS#HART0:1;0,00,4,060#", "QQS#HART/:1,0,00,4,060#",
      "QQS#HART:1,0,00,4,060#", "QQS#HART0:1,0,00,4,0600#", "QQS#HART0:/,0,00,4,060#",
      "QQS#DFOT0:20000#", "QQS#DFOT0:00004#", "QQS#DFOT0:0000#", "QQS#DFOT0:000000#",
      "QQS#DFOT0:0000/#", "QQS#DFOTX:00000#",
      "QQS#MDBS0:2,0000,0000,0000,0000#", "QQS#MDBS0::,0000,0000,0000,0000#",
      "QQS#MDBS0:8,3000,0000,0000,0000#", "QQS#MDBS0:8,0002,0000,0000,0000#",
      "QQS#MDBS0:8,0:00,0000,0000,0000#", "QQS#MDBS0:8,0000,0000,0000#",
      "QQS#MDBS0:8;0000,0000,0000,0000#",
      "QQS#FMW:4,0.001#", "QQS#FMW:0,0.01#", "QQS#FMW:0,0.0015#", "QQS#FMW:0;0.001#", "QQS#FMW:/,0.001#",
      std::string("QQS#FMW:0,0.\x01" "12#"),
      "QQS#CAMD01:2<01,A", "QQS#CAMD03:1<01,A", "QQS#CAMD/1:1<01,A", "QQS#CAMD01:1<1,A",
      "QQS#CAMD01:1<02,A", "QQS#CAMD01:1<01,AB", "QQS#CAMD01:1<15,AAAAAAAAAAAAAAA",
      "QQQ#QQ#", "QQQ#QQ/#", "QQQ#QQ00#", "QQQ#QQ0",
  };
  for (const std::string &frame : refused) EXPECT_EQ(Ask(module, frame), "ERR#") << frame;
  EXPECT_EQ(Ask(module, "QQQ#QQ0#"), before);
}

TEST(SimModbusRegisters, EachDataFormatEncodesTheInstrumentsValues) {
  SimModule module;
  for (double clock : {0.0, 52.7}) {
    module.SetClock(clock);
    const HartProcessValues values = SimHartInstrument::ValuesAt(clock);
    const float published[5] = {values.current, values.variables[0].value, values.variables[1].value,
                                values.variables[2].value, values.variables[3].value};
    for (const char *formats : {"00000", "11111", "02222", "13333", "10123"}) {
      ASSERT_EQ(Ask(module, std::string("QQS#DFOT0:") + formats + "#"), "OK#");
      const std::vector<uint16_t> registers = Registers(module.Answer(ReadRequest(1, 0, 10)), 1, 10);
      ASSERT_EQ(registers.size(), 10u);
      for (size_t v = 0; v < 5; ++v) {
        const int format = formats[v] - '0';
        const uint16_t first = registers[2 * v], second = registers[2 * v + 1];
        if (format < 2) {
          EXPECT_EQ(DecodeFloat(first, second, format), published[v])
              << "clock " << clock << " formats " << formats << " value " << v;
        } else {
          EXPECT_EQ(DecodeUnsigned(first, second, format), static_cast<uint32_t>(std::lround(published[v])))
              << "clock " << clock << " formats " << formats << " value " << v;
        }
      }
    }
  }
  // At clock 0 the halves round away from zero: 21.5 degC gives 22, 2.5 bar gives 3.
  module.SetClock(0);
  ASSERT_EQ(Ask(module, "QQS#DFOT0:02222#"), "OK#");
  const std::vector<uint16_t> r = Registers(module.Answer(ReadRequest(1, 2, 8)), 1, 8);
  EXPECT_EQ(r, (std::vector<uint16_t>{0, 60, 0, 22, 0, 3, 0, 1000}));
  // A part of the block: registers 3..6 only, the big-endian float 12.0 is 0x4140 0x0000.
  ASSERT_EQ(Ask(module, "QQS#DFOT0:00000#"), "OK#");
  EXPECT_EQ(Registers(module.Answer(ReadRequest(1, 0, 1)), 1, 1), std::vector<uint16_t>{0x4140});
}

TEST(SimModbusRegisters, UnsignedEncodingLimits) {
  EXPECT_EQ(RoundedUnsigned(-0.4f), 0u);
  EXPECT_EQ(RoundedUnsigned(-1000.0f), 0u);
  EXPECT_EQ(RoundedUnsigned(std::numeric_limits<float>::quiet_NaN()), 0u);
  EXPECT_EQ(RoundedUnsigned(0.5f), 1u);
  EXPECT_EQ(RoundedUnsigned(1.49f), 1u);
  EXPECT_EQ(RoundedUnsigned(5e9f), UINT32_MAX);
  EXPECT_EQ(RoundedUnsigned(std::numeric_limits<float>::infinity()), UINT32_MAX);
  EXPECT_EQ(RoundedUnsigned(4294967040.0f), 4294967040u);  // the largest float below 2^32
  EXPECT_EQ(EncodeRegisterPair(70000.0f, 2), (std::array<uint16_t, 2>{0x0001, 0x1170}));
  EXPECT_EQ(EncodeRegisterPair(70000.0f, 3), (std::array<uint16_t, 2>{0x1170, 0x0001}));
  EXPECT_EQ(EncodeRegisterPair(-2.0f, 0), (std::array<uint16_t, 2>{0xC000, 0x0000}));
  EXPECT_EQ(EncodeRegisterPair(-2.0f, 1), (std::array<uint16_t, 2>{0x0000, 0xC000}));
}

TEST(SimModbusSlave, SilentForOtherSlavesAndDamagedFrames) {
  SimModule module;
  const Bytes good = ReadRequest(1, 0, 10);
  ASSERT_FALSE(module.Answer(good).empty());
  for (size_t at = 0; at < good.size(); ++at) {
    Bytes damaged = good;
    damaged[at] ^= 0x10;
    EXPECT_TRUE(module.Answer(damaged).empty()) << "byte " << at;
  }
  EXPECT_TRUE(module.Answer(ReadRequest(2, 0, 10)).empty());
  EXPECT_TRUE(module.Answer(ReadRequest(0, 0, 10)).empty()) << "a broadcast read gets no answer";
  EXPECT_TRUE(module.Answer(Bytes(good.begin(), good.begin() + 3)).empty());
  EXPECT_TRUE(module.Answer(WithCrc({0x01, 0x83, 0x02})).empty()) << "an exception is not a request";

  // Slave 2 starts like a short HART frame; the CRC decides.
  ASSERT_EQ(Ask(module, "QQS#ADR:002#"), "OK#");
  EXPECT_TRUE(module.Answer(good).empty());
  EXPECT_EQ(Registers(module.Answer(ReadRequest(2, 0, 10)), 2, 10).size(), 10u);
  // An address the bus cannot carry answers nobody.
  ASSERT_EQ(Ask(module, "QQS#ADR:248#"), "OK#");
  EXPECT_EQ(module.SlaveAddress(), 0);
  ASSERT_EQ(Ask(module, "QQS#ADR:247#"), "OK#");
  EXPECT_FALSE(module.Answer(ReadRequest(247, 0, 10)).empty());
}

TEST(SimModbusSlave, ExceptionsForBadRangesAndFunctions) {
  SimModule module;
  EXPECT_EQ(module.Answer(ReadRequest(1, 8, 4)), Exception(1, 0x03, 0x02));
  EXPECT_EQ(module.Answer(ReadRequest(1, 10, 1)), Exception(1, 0x03, 0x02));
  EXPECT_EQ(module.Answer(ReadRequest(1, 0xFFFF, 2)), Exception(1, 0x03, 0x02));
  EXPECT_EQ(module.Answer(ReadRequest(1, 9, 1)).size(), 7u) << "the last register is readable";
  // A quantity outside 1..125 is an illegal data value, whatever the address.
  EXPECT_EQ(module.Answer(ReadRequest(1, 0, 0)), Exception(1, 0x03, 0x03));
  EXPECT_EQ(module.Answer(ReadRequest(1, 0, 126)), Exception(1, 0x03, 0x03));
  EXPECT_EQ(module.Answer(ReadRequest(1, 0, 125)), Exception(1, 0x03, 0x02));
  EXPECT_EQ(module.Answer(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00})), Exception(1, 0x03, 0x03));
  EXPECT_EQ(module.Answer(WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x0A})), Exception(1, 0x04, 0x01));
  EXPECT_EQ(module.Answer(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00, 0x01})), Exception(1, 0x06, 0x01));
  EXPECT_EQ(Exception(1, 0x03, 0x02), (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));
}

TEST(SimModbusSlave, AnswersInEveryWorkingMode) {
  SimModule module;
  for (const char *mode : {"QQS#MD:0#", "QQS#MD:1#", "QQS#MD:2#"}) {
    ASSERT_EQ(Ask(module, mode), "OK#");
    EXPECT_EQ(Registers(module.Answer(ReadRequest(1, 0, 10)), 1, 10).size(), 10u) << mode;
  }
}
