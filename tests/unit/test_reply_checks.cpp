// Where replies end and whether a HART reply answers its request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crc16.h"
#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hart_answer.h"
#include "protocol/modbus_rtu.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes frame) {
  const Crc16Bytes crc = Crc16(frame.data(), frame.size());
  frame.push_back(crc.low);
  frame.push_back(crc.high);
  return frame;
}

// Five preambles, delimiter, address, command, byte count, the status bytes, data, checksum.
Bytes HartReply(uint8_t delimiter, const Bytes &address, uint8_t command, uint8_t status, uint8_t device, const Bytes &data = {}) {
  Bytes frame(5, hart::kPreamble);
  frame.push_back(delimiter);
  frame.insert(frame.end(), address.begin(), address.end());
  frame.push_back(command);
  frame.push_back(static_cast<uint8_t>(2 + data.size()));
  frame.push_back(status);
  frame.push_back(device);
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(HartChecksum(frame.data() + 5, frame.size() - 5));
  return frame;
}

// The length at which `end` first finds the bytes whole as they arrive one by one; 0 for never.
size_t WholeAt(size_t (*end)(const uint8_t *, size_t), const Bytes &bytes) {
  for (size_t n = 0; n <= bytes.size(); ++n)
    if (const size_t whole = end(bytes.data(), n)) return whole == n ? n : static_cast<size_t>(-1);
  return 0;
}

TEST(FrameEnd, EachReplyIsWholeAtItsLastByteAndNotWhenItDoesNotCheckOut) {
  const Bytes read = WithCrc({0x01, modbus::kReadHoldingRegisters, 0x04, 0x41, 0x20, 0x00, 0x00});
  EXPECT_EQ(WholeAt(ModbusAnswerEnd, read), read.size());
  const Bytes exception = WithCrc({0x01, modbus::kReadHoldingRegisters | modbus::kExceptionBit, modbus::kIllegalDataAddress});
  EXPECT_EQ(WholeAt(ModbusAnswerEnd, exception), modbus::kExceptionAnswerLength);
  Bytes badCrc = read;
  badCrc.back() ^= 1;
  EXPECT_EQ(WholeAt(ModbusAnswerEnd, badCrc), 0u);

  // Stray bytes first, a preamble among them that no delimiter follows.
  Bytes hart = {0x00, hart::kPreamble, 0x12};
  const Bytes reply = HartReply(hart::kShortReply, {0x80}, hart::kReadUniqueIdentifier, 0, 0, Bytes(12, 0x26));
  hart.insert(hart.end(), reply.begin(), reply.end());
  EXPECT_EQ(WholeAt(HartReplyEnd, hart), hart.size());
  hart.back() ^= 1;
  EXPECT_EQ(WholeAt(HartReplyEnd, hart), 0u);

  const Bytes ack = {0x00, 'O', 'K', '#', 0x00};
  EXPECT_EQ(AcknowledgementEnd(ack.data(), ack.size()), 4u);
  EXPECT_EQ(AcknowledgementEnd(reinterpret_cast<const uint8_t *>("ERR#OK#"), 7), 4u);
  EXPECT_EQ(AcknowledgementEnd(reinterpret_cast<const uint8_t *>("QV:OK"), 5), 0u);
}

TEST(HartAnswer, StatusAndAddressAsTheInstrumentMeansThem) {
  const HartIdentity id{0x26, 0x06, {0x00, 0x12, 0x34}};
  const Bytes request = HartLongFrame(5, hart::kPrimaryMaster, id, hart::kReadDynamicVariables);
  const Bytes address = {0xA6, 0x06, 0x00, 0x12, 0x34};
  auto check = [&](const Bytes &reply) { return CheckHartAnswer(request, reply.data(), reply.size()); };

  // A slave in burst mode sets the burst bit in its address; the reply is still to us.
  Bytes burst = address;
  burst[0] |= hart::kBurstMode;
  const HartAnswer warned = check(HartReply(hart::kLongReply, burst, hart::kReadDynamicVariables, 8, hart::kLoopCurrentFixed, {1, 2}));
  EXPECT_EQ(warned.verdict, HartVerdict::Data) << warned.problem;
  EXPECT_TRUE(warned.Warning());
  EXPECT_EQ(warned.data, (Bytes{1, 2}));
  EXPECT_EQ(warned.deviceStatus, hart::kLoopCurrentFixed);

  const HartAnswer garbled = check(HartReply(hart::kLongReply, address, hart::kReadDynamicVariables,
                                             hart::kCommunicationError | hart::kFramingError, 0));
  EXPECT_EQ(garbled.verdict, HartVerdict::CommunicationError);
  EXPECT_EQ(garbled.Reason(), "communication error: framing error");

  Bytes secondary = address;
  secondary[0] &= static_cast<uint8_t>(~hart::kPrimaryMaster);
  EXPECT_EQ(check(HartReply(hart::kLongReply, secondary, hart::kReadDynamicVariables, 0, 0)).problem,
            "answers address 26 06 00 12 34, not A6 06 00 12 34");
  EXPECT_EQ(check(HartReply(hart::kShortReply, {0x80}, hart::kReadDynamicVariables, 0, 0)).problem,
            "a short-address reply (06) to a long-address request");
  EXPECT_EQ(check(HartReply(hart::kLongReply, address, hart::kReadDynamicVariables, hart::kDelayedResponseInitiated, 0)).verdict,
            HartVerdict::Busy);
}

}  // namespace
