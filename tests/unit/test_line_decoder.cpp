// The decoders of the line: the module's language, HART and MODBUS RTU, whole, broken and mixed.
#include "protocol/line_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "protocol/hart_commands.h"
#include "protocol/modbus_rtu.h"
#include "sim/hart_instrument.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string &text) { return Bytes(text.begin(), text.end()); }

std::string Decode(const Bytes &b, LineDirection d) { return DecodeLineText(b.data(), b.size(), d); }

const LineDirection kOut = LineDirection::Sent;
const LineDirection kIn = LineDirection::Received;

TEST(LineDecoder, ModuleRequestsAreNamedAndRepliesSplitIntoKeys) {
  EXPECT_EQ(Decode(Of("QQS#ADR:005#"), kOut), "QQS#ADR:005#: set MODBUS slave address to 5");
  EXPECT_EQ(Decode(Of("QQQ#QX#"), kOut), "QQQ#QX#: system parameter query");
  EXPECT_EQ(Decode(Of("QQS#BA2:42#"), kOut), "QQS#BA2:42#: set RS485 line to 19200 baud, parity even");
  EXPECT_EQ(Decode(Of("QQS#HART0:1,0,10,9,060#"), kOut),
            "QQS#HART0:1,0,10,9,060#: set meter 0 profile: enabled, secondary master, type 10, 9 preambles, buffer "
            "clear time 60 s");
  EXPECT_EQ(Decode(Of("KORVEN#ZOM:0.500#"), kOut), "KORVEN#ZOM:0.500#: set low-flow cut-off to 0.500");
  EXPECT_EQ(Decode(Of("QX#BA2:30#MD:0#ADR:001#"), kIn), "system parameters: QX, BA2=30, MD=0, ADR=001");
  EXPECT_EQ(Decode(Of("OK#"), kIn), "answer: OK");
}

TEST(LineDecoder, HartFramesWithTheirFieldsAndChecksum) {
  EXPECT_EQ(Decode(HartShortFrame(7, hart::kPrimaryMaster, 0, 0x00), kOut),
            "HART request, 7 preambles, short frame, primary master, polling address 0, command 0 (read unique "
            "identifier), 0 data bytes, checksum 82 ok");
  // The identity answer of the example instrument; then the same with its checksum spoiled.
  Bytes reply = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE, 0x26, 0x06,
                 0x05, 0x05, 0x01, 0x01, 0x08, 0x00, 0x00, 0x12, 0x34};
  reply.push_back(HartChecksum(reply.data() + 5, reply.size() - 5));
  const std::string good = Decode(reply, kIn);
  EXPECT_NE(good.find("HART reply, 5 preambles, short frame, primary master, polling address 0, command 0"),
            std::string::npos)
      << good;
  EXPECT_NE(good.find("response code 0, device status 00, manufacturer 38 type 6 id 4660, checksum"), std::string::npos)
      << good;
  reply.back() ^= 0x01;
  const std::vector<DecodedFrame> bad = DecodeLine(reply.data(), reply.size(), kIn);
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_TRUE(bad[0].flawed);
  EXPECT_NE(bad[0].text.find("wrong, expected"), std::string::npos) << bad[0].text;
}

TEST(LineDecoder, ModbusFramesExceptionsAndCrc) {
  EXPECT_EQ(Decode(ReadHoldingRegistersRequest(1, 0, 10), kOut),
            "MODBUS request: slave 1, function 3 (read holding registers), start 0, count 10, CRC C5 CD ok");
  const Bytes answer = {0x01, 0x03, 0x04, 0x41, 0x48, 0x00, 0x00, 0x00, 0x00};  // CRC 00 00: wrong
  const std::vector<DecodedFrame> broken = DecodeLine(answer.data(), answer.size(), kIn);
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken[0].dialect, Dialect::Modbus);
  EXPECT_TRUE(broken[0].flawed);
  EXPECT_NE(broken[0].text.find("registers 16712 0, CRC 00 00 wrong, expected"), std::string::npos) << broken[0].text;
  Bytes exception = {0x01, 0x83, 0x02, 0xC0, 0xF1};
  EXPECT_EQ(Decode(exception, kIn),
            "MODBUS answer: slave 1, function 3 (read holding registers), exception 2 (illegal data address), CRC C0 F1 ok");
  Bytes request = ReadHoldingRegistersRequest(1, 0, 10);
  request[7] ^= 0xFF;
  const std::vector<DecodedFrame> flawed = DecodeLine(request.data(), request.size(), kOut);
  ASSERT_EQ(flawed.size(), 1u);
  EXPECT_TRUE(flawed[0].flawed);
  EXPECT_NE(flawed[0].text.find("CRC C5 32 wrong, expected C5 CD"), std::string::npos) << flawed[0].text;
  // An answer whose slave address prints, after printable text with no "#": found inside the run.
  Bytes late = {'x', 'y', 0x41, 0x03, 0x02, 0x00, 0x07};
  const Crc16Bytes crc = Crc16(late.data() + 2, late.size() - 2);
  late.push_back(crc.low);
  late.push_back(crc.high);
  const std::vector<DecodedFrame> afterText = DecodeLine(late.data(), late.size(), kIn);
  ASSERT_EQ(afterText.size(), 2u);
  EXPECT_EQ(afterText[0].text, "2 bytes of noise: 78 79");
  EXPECT_EQ(afterText[1].offset, 2u);
  EXPECT_FALSE(afterText[1].flawed);
  EXPECT_NE(afterText[1].text.find("slave 65, function 3 (read holding registers), 2 bytes, registers 7"),
            std::string::npos)
      << afterText[1].text;
}

TEST(LineDecoder, ADeliveryWithNoiseAndTwoFrames) {
  Bytes delivery = {0x00, 0x13};
  const Bytes text = Of("OK#");
  delivery.insert(delivery.end(), text.begin(), text.end());
  const Bytes rtu = {0x01, 0x83, 0x02, 0xC0, 0xF1};
  delivery.insert(delivery.end(), rtu.begin(), rtu.end());
  const std::vector<DecodedFrame> frames = DecodeLine(delivery.data(), delivery.size(), kIn);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].dialect, Dialect::Noise);
  EXPECT_EQ(frames[0].text, "2 bytes of noise: 00 13");
  EXPECT_EQ(frames[1].dialect, Dialect::Module);
  EXPECT_EQ(frames[2].dialect, Dialect::Modbus);
  EXPECT_EQ(frames[2].offset, 5u);
  // The same entries with their texts in the one line.
  const DecodedLine line = DecodeLineJoined(delivery.data(), delivery.size(), kIn);
  EXPECT_EQ(line.text, Decode(delivery, kIn));
  ASSERT_EQ(line.entries.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(line.TextOf(line.entries[i]), frames[i].text);
    EXPECT_EQ(line.entries[i].offset, frames[i].offset);
    EXPECT_EQ(line.entries[i].flawed, frames[i].flawed);
  }
}

// The communicator's requests as the program builds them and the simulated instrument's replies,
// decoded with their fields; a reply too short for its command keeps its bytes and says why.
TEST(LineDecoder, HartCommandFieldsOfRequestsAndReplies) {
  SimHartInstrument instrument(SimHartOptions{7, false});
  IdentityReply id;
  id.identity.manufacturer = SimHartInstrument::kManufacturer;
  id.identity.deviceType = SimHartInstrument::kDeviceType;
  id.identity.deviceId = SimHartInstrument::kDeviceId;
  id.preambleNeed = 5;
  id.universalRevision = 7;
  auto exchange = [&](uint8_t command, const Bytes &data, const std::string &request, const std::string &reply) {
    const Bytes frame = BuildHartRequest(id, command, data).frame;
    const std::string sent = Decode(frame, kOut), answer = Decode(instrument.Answer(frame, 0), kIn);
    EXPECT_NE(sent.find(request), std::string::npos) << sent;
    EXPECT_NE(answer.find(reply), std::string::npos) << answer;
    EXPECT_NE(answer.find("checksum"), std::string::npos) << answer;
  };
  exchange(hart::kWriteTagDescriptorDate, TagDescriptorDateRequest({"FT-101", "FEED FLOW", {2024, 3, 9}}).data,
           ", tag \"FT-101\", descriptor \"FEED FLOW\", date 2024-03-09, checksum",
           "response code 0, device status 40 (configuration changed), tag \"FT-101\", descriptor \"FEED FLOW\", "
           "date 2024-03-09");
  exchange(hart::kWriteRangeValues, RangeValuesRequest(19, 150, 10).data, ", upper range 150 CuMtr_hr, lower range 10 CuMtr_hr",
           ", upper range 150 CuMtr_hr, lower range 10 CuMtr_hr");
  exchange(hart::kReadDeviceInformation, {}, "0 data bytes, checksum",
           ", upper range 150 CuMtr_hr, lower range 10 CuMtr_hr, damping ");
  exchange(hart::kEnterExitFixedCurrent, FixedCurrentRequest(4).data, ", fixed current 4 mA, checksum",
           "loop current fixed), fixed current 4 mA");
  exchange(hart::kWriteLongTag, LongTagRequest("Feed pump 2").data, ", long tag \"Feed pump 2\"", ", long tag \"Feed pump 2\"");

  const Bytes shortReply =
      HartRawFrame(5, {hart::kShortReply, hart::kPrimaryMaster, hart::kReadPrimaryVariable, 4, 0x00, 0x00, 0x07, 0x41});
  const std::string cut = Decode(shortReply, kIn);
  EXPECT_NE(cut.find("device status 00, data 07 41 (the reply holds 2 data bytes, too few for the primary variable "
                     "(5 are due)), checksum"),
            std::string::npos)
      << cut;
}

}  // namespace
