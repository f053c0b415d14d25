// The telnet layer of a serial port reached through a device server: IAC
// escaping both ways as an incremental codec, option negotiation, and the
// COM-PORT-OPTION sub-negotiations of RFC 2217 that set the server's serial
// line. Pure: bytes in, bytes and events out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telnet {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPortOption = 44;

// The data bytes as they go on the connection: each IAC doubled.
std::vector<uint8_t> Escape(const uint8_t *bytes, size_t count);
// IAC verb option.
std::vector<uint8_t> Negotiation(uint8_t verb, uint8_t option);
// IAC SB option payload IAC SE, the payload escaped.
std::vector<uint8_t> Subnegotiation(uint8_t option, const std::vector<uint8_t> &payload);

// What the far end said besides data.
struct Command {
  uint8_t verb = 0;  // kWill, kWont, kDo, kDont, or kSb for a sub-negotiation
  uint8_t option = 0;
  std::vector<uint8_t> payload;  // a sub-negotiation's bytes, unescaped
};

// Reads the connection's bytes as they come, in pieces of any size: an IAC or a
// sub-negotiation split across two reads is completed by the next. Data bytes
// go to `data`, the far end's commands to `commands`; other two-byte commands
// (NOP, go-ahead, ...) are dropped.
class Decoder {
 public:
  void Feed(const uint8_t *bytes, size_t count, std::vector<uint8_t> *data, std::vector<Command> *commands);

 private:
  void Step(uint8_t b, std::vector<uint8_t> *data, std::vector<Command> *commands);
  enum class State { Data, Iac, Verb, Sub, SubIac };
  State state_ = State::Data;
  uint8_t verb_ = 0;
  Command sub_;
  static constexpr size_t kMaxSubnegotiation = 512;  // a longer one is cut: nothing we read is as long
};

// RFC 2217: the client's requests, the server answering each with its code plus
// 100.
namespace rfc2217 {

enum Request : uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;

enum Parity : uint8_t { kParityNone = 1, kParityOdd = 2, kParityEven = 3 };
enum StopSize : uint8_t { kStopOne = 1, kStopTwo = 2 };
enum Control : uint8_t {
  kNoFlowControl = 1,
  kDtrOn = 8,
  kDtrOff = 9,
  kRtsOn = 11,
  kRtsOff = 12,
  kNoInboundFlowControl = 14,
};
// NOTIFY-MODEMSTATE bits.
constexpr uint8_t kCarrierDetect = 0x80;
constexpr uint8_t kRingIndicator = 0x40;
constexpr uint8_t kDeltaCarrierDetect = 0x08;
constexpr uint8_t kTrailingEdgeRing = 0x04;

// The sub-negotiation that sets the baud rate (four bytes, most significant
// first), and those of one byte of value.
std::vector<uint8_t> SetBaudRate(uint32_t baud);
std::vector<uint8_t> SetValue(Request request, uint8_t value);

// A COM-PORT-OPTION answer of the server: which request it answers and its
// value.
struct Answer {
  Request request;
  uint32_t value = 0;  // the baud rate, or the one-byte value
};
// Nothing for a sub-negotiation that is not a server's COM-PORT-OPTION answer,
// or whose value has the wrong length.
std::optional<Answer> ReadAnswer(const Command &command);

}  // namespace rfc2217

// The client's side of a connection to an RFC 2217 server: what it offers at
// the start, how it answers the server's negotiation, and what the server has
// agreed to. Decides, sends nothing itself: every call returns the bytes to
// write.
class Rfc2217Client {
 public:
  struct Line {
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    rfc2217::Parity parity = rfc2217::kParityNone;
    rfc2217::StopSize stopBits = rfc2217::kStopOne;
    bool rts = false;
    bool dtr = false;
  };

  // The opening offers: BINARY both ways, SUPPRESS-GO-AHEAD, COM-PORT-OPTION.
  std::vector<uint8_t> Start();
  // The sub-negotiations that set `line` on the server's port, and ask for
  // modem-state changes. Acknowledgements of baud rate and parity are then
  // awaited again.
  std::vector<uint8_t> SetLine(const Line &line);
  // Reads the server's commands, answering its negotiation. Refusals and
  // acknowledgements are kept.
  std::vector<uint8_t> Take(const std::vector<Command> &commands);

  bool ComPortRefused() const { return comPortRefused_; }
  bool ComPortAccepted() const { return comPortAccepted_; }
  // The server acknowledged the baud rate and the parity asked for last (with
  // any values: a server may set the nearest it can, which `AckedBaud` tells).
  bool LineAcknowledged() const { return baudAcked_ && parityAcked_; }
  uint32_t AckedBaud() const { return ackedBaud_; }
  // The modem-state bits of the newest notification, and how many have come.
  uint8_t ModemState() const { return modemState_; }
  int ModemNotifications() const { return modemNotifications_; }

 private:
  bool comPortAccepted_ = false;
  bool comPortRefused_ = false;
  bool binaryOut_ = false;  // the server agreed to take binary from us
  bool binaryIn_ = false;   // we agreed to take binary from the server
  bool baudAcked_ = false;
  bool parityAcked_ = false;
  uint32_t ackedBaud_ = 0;
  uint8_t modemState_ = 0;
  int modemNotifications_ = 0;
};

}  // namespace telnet
