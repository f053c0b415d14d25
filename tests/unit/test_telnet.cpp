// The telnet codec and the RFC 2217 client, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "protocol/hart.h"
#include "protocol/telnet.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace telnet;

TEST(Telnet, HartPreamblesSurviveEscapingAndEverySplitOfTheRead) {
  const Bytes frame = HartShortFrame(7, hart::kPrimaryMaster, 0, hart::kReadUniqueIdentifier);
  Bytes wire = Escape(frame.data(), frame.size());
  EXPECT_EQ(wire.size(), frame.size() + 7) << "each 0xFF doubled";
  const Bytes server = {kIac, kDo, kComPortOption, kIac, kSb, kComPortOption, 101, 0, 0, 0x25, 0x80, kIac, kSe};
  wire.insert(wire.begin(), server.begin(), server.end());
  for (size_t split = 0; split <= wire.size(); ++split) {
    Decoder decoder;
    Bytes data;
    std::vector<Command> commands;
    decoder.Feed(wire.data(), split, &data, &commands);
    decoder.Feed(wire.data() + split, wire.size() - split, &data, &commands);
    ASSERT_EQ(data, frame) << "split at " << split;
    ASSERT_EQ(commands.size(), 2u) << "split at " << split;
    EXPECT_EQ(commands[0].verb, kDo);
    const auto answer = rfc2217::ReadAnswer(commands[1]);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->request, rfc2217::kSetBaudRate);
    EXPECT_EQ(answer->value, 9600u);
  }
}

TEST(Telnet, ClientSetsTheLineAndTellsWhatTheServerAgreedTo) {
  Rfc2217Client client;
  EXPECT_EQ(client.Start(), (Bytes{kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac, kDo,
                                   kSuppressGoAhead, kIac, kWill, kComPortOption}));
  Rfc2217Client::Line line;
  line.baud = 0x0001C2FF;  // not a real rate: its low byte must go out escaped
  line.parity = rfc2217::kParityEven;
  line.rts = true;
  const Bytes set = client.SetLine(line);
  const Bytes baud = {kIac, kSb, kComPortOption, 1, 0x00, 0x01, 0xC2, 0xFF, 0xFF, kIac, kSe};
  ASSERT_GE(set.size(), baud.size());
  EXPECT_EQ(Bytes(set.begin(), set.begin() + static_cast<long>(baud.size())), baud);
  const Bytes rest(set.begin() + static_cast<long>(baud.size()), set.end());
  const Bytes parity = {kIac, kSb, kComPortOption, 3, 3, kIac, kSe};
  const Bytes rtsOn = {kIac, kSb, kComPortOption, 5, 11, kIac, kSe};
  const Bytes dtrOff = {kIac, kSb, kComPortOption, 5, 9, kIac, kSe};
  for (const Bytes &piece : {parity, rtsOn, dtrOff})
    EXPECT_NE(std::search(rest.begin(), rest.end(), piece.begin(), piece.end()), rest.end());

  // An option it does not know is refused; the COM port option and the line acknowledgements kept.
  EXPECT_EQ(client.Take({{kWill, 1, {}}, {kDo, 24, {}}}), (Bytes{kIac, kDont, 1, kIac, kWont, 24}));
  EXPECT_TRUE(client.Take({{kDo, kComPortOption, {}}, {kWill, kBinary, {}}}).empty());
  EXPECT_TRUE(client.ComPortAccepted());
  EXPECT_FALSE(client.LineAcknowledged());
  client.Take({{kSb, kComPortOption, {101, 0x00, 0x01, 0xC2, 0x00}}, {kSb, kComPortOption, {103, 3}}});
  EXPECT_TRUE(client.LineAcknowledged());
  EXPECT_EQ(client.AckedBaud(), 0x0001C200u);
  client.Take({{kSb, kComPortOption, {107, rfc2217::kCarrierDetect | rfc2217::kDeltaCarrierDetect}}});
  EXPECT_EQ(client.ModemNotifications(), 1);

  Rfc2217Client refused;
  refused.Take({{kDont, kComPortOption, {}}});
  EXPECT_TRUE(refused.ComPortRefused());
}

}  // namespace
