#include "protocol/telnet.h"

namespace telnet {

std::vector<uint8_t> Escape(const uint8_t *bytes, size_t count) {
  std::vector<uint8_t> out;
  out.reserve(count + count / 8);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIac) out.push_back(kIac);
  }
  return out;
}

std::vector<uint8_t> Negotiation(uint8_t verb, uint8_t option) { return {kIac, verb, option}; }

std::vector<uint8_t> Subnegotiation(uint8_t option, const std::vector<uint8_t> &payload) {
  std::vector<uint8_t> out{kIac, kSb, option};
  const std::vector<uint8_t> escaped = Escape(payload.data(), payload.size());
  out.insert(out.end(), escaped.begin(), escaped.end());
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

void Decoder::Feed(const uint8_t *bytes, size_t count, std::vector<uint8_t> *data, std::vector<Command> *commands) {
  for (size_t i = 0; i < count; ++i) Step(bytes[i], data, commands);
}

void Decoder::Step(uint8_t b, std::vector<uint8_t> *data, std::vector<Command> *commands) {
  switch (state_) {
    case State::Data:
      if (b == kIac)
        state_ = State::Iac;
      else
        data->push_back(b);
      break;
    case State::Iac:
      if (b == kIac) {
        data->push_back(kIac);
        state_ = State::Data;
      } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
        verb_ = b;
        state_ = State::Verb;
      } else if (b == kSb) {
        sub_ = Command{kSb, 0, {}};
        state_ = State::Verb;
        verb_ = kSb;
      } else {
        state_ = State::Data;  // NOP, go-ahead, a stray SE, ...
      }
      break;
    case State::Verb:
      if (verb_ == kSb) {
        sub_.option = b;
        state_ = State::Sub;
      } else {
        commands->push_back(Command{verb_, b, {}});
        state_ = State::Data;
      }
      break;
    case State::Sub:
      if (b == kIac)
        state_ = State::SubIac;
      else if (sub_.payload.size() < kMaxSubnegotiation)
        sub_.payload.push_back(b);
      break;
    case State::SubIac:
      if (b == kIac) {
        if (sub_.payload.size() < kMaxSubnegotiation) sub_.payload.push_back(kIac);
        state_ = State::Sub;
      } else if (b == kSe) {
        commands->push_back(std::move(sub_));
        sub_ = Command{};
        state_ = State::Data;
      } else {
        // IAC and anything else inside a sub-negotiation: the sub-negotiation was
        // never closed. Keep what it held and read the byte as a command after
        // IAC.
        commands->push_back(std::move(sub_));
        sub_ = Command{};
        state_ = State::Iac;
        Step(b, data, commands);
      }
      break;
  }
}

namespace rfc2217 {

std::vector<uint8_t> SetBaudRate(uint32_t baud) {
  return Subnegotiation(kComPortOption,
                        {kSetBaudRate, static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                         static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)});
}

std::vector<uint8_t> SetValue(Request request, uint8_t value) {
  return Subnegotiation(kComPortOption, {request, value});
}

std::optional<Answer> ReadAnswer(const Command &command) {
  if (command.verb != kSb || command.option != kComPortOption || command.payload.empty()) return std::nullopt;
  const uint8_t code = command.payload[0];
  if (code < kServerOffset) return std::nullopt;
  const auto request = static_cast<Request>(code - kServerOffset);
  const size_t length = command.payload.size() - 1;
  const uint8_t *v = command.payload.data() + 1;
  switch (request) {
    case kSignature: return Answer{request, 0};
    case kSetBaudRate:
      if (length != 4) return std::nullopt;
      return Answer{request, uint32_t{v[0]} << 24 | uint32_t{v[1]} << 16 | uint32_t{v[2]} << 8 | v[3]};
    case kSetDataSize:
    case kSetParity:
    case kSetStopSize:
    case kSetControl:
    case kNotifyLineState:
    case kNotifyModemState:
    case kSetLineStateMask:
    case kSetModemStateMask:
    case kPurgeData:
      if (length != 1) return std::nullopt;
      return Answer{request, v[0]};
    default: return std::nullopt;
  }
}

}  // namespace rfc2217

std::vector<uint8_t> Rfc2217Client::Start() {
  std::vector<uint8_t> out;
  for (const auto &n : {Negotiation(kWill, kBinary), Negotiation(kDo, kBinary), Negotiation(kWill, kSuppressGoAhead),
                        Negotiation(kDo, kSuppressGoAhead), Negotiation(kWill, kComPortOption)})
    out.insert(out.end(), n.begin(), n.end());
  return out;
}

std::vector<uint8_t> Rfc2217Client::SetLine(const Line &line) {
  using namespace rfc2217;
  baudAcked_ = parityAcked_ = false;
  std::vector<uint8_t> out;
  for (const auto &s :
       {SetBaudRate(line.baud), SetValue(kSetDataSize, line.dataBits), SetValue(kSetParity, line.parity),
        SetValue(kSetStopSize, line.stopBits), SetValue(kSetControl, kNoFlowControl),
        SetValue(kSetControl, kNoInboundFlowControl), SetValue(kSetControl, line.rts ? kRtsOn : kRtsOff),
        SetValue(kSetControl, line.dtr ? kDtrOn : kDtrOff),
        SetValue(kSetModemStateMask, kCarrierDetect | kRingIndicator | kDeltaCarrierDetect | kTrailingEdgeRing)})
    out.insert(out.end(), s.begin(), s.end());
  return out;
}

std::vector<uint8_t> Rfc2217Client::Take(const std::vector<Command> &commands) {
  std::vector<uint8_t> out;
  auto reply = [&out](uint8_t verb, uint8_t option) {
    const auto n = Negotiation(verb, option);
    out.insert(out.end(), n.begin(), n.end());
  };
  for (const Command &c : commands) {
    switch (c.verb) {
      case kDo:  // the server asks us to use an option; the three we offered are
                 // answered already
        if (c.option == kComPortOption)
          comPortAccepted_ = true;
        else if (c.option == kBinary)
          binaryOut_ = true;
        else if (c.option != kSuppressGoAhead)
          reply(kWont, c.option);
        break;
      case kDont:
        if (c.option == kComPortOption) comPortRefused_ = true;
        if (c.option == kBinary) binaryOut_ = false;
        break;
      case kWill:  // the server offers an option
        if (c.option == kBinary)
          binaryIn_ = true;
        else if (c.option != kSuppressGoAhead)
          reply(kDont, c.option);
        break;
      case kWont:
        if (c.option == kBinary) binaryIn_ = false;
        break;
      case kSb:
        if (const auto answer = rfc2217::ReadAnswer(c)) {
          switch (answer->request) {
            case rfc2217::kSetBaudRate:
              baudAcked_ = true;
              ackedBaud_ = answer->value;
              break;
            case rfc2217::kSetParity: parityAcked_ = true; break;
            case rfc2217::kNotifyModemState:
              modemState_ = static_cast<uint8_t>(answer->value);
              ++modemNotifications_;
              break;
            default: break;
          }
        }
        break;
      default: break;
    }
  }
  return out;
}

}  // namespace telnet
