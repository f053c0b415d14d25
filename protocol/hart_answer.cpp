#include "protocol/hart_answer.h"

#include "protocol/frame_end.h"
#include "protocol/hart.h"
#include "protocol/hex.h"

namespace {

size_t AddressLength(uint8_t delimiter) {
  return delimiter & hart::kLongAddressFrame ? hart::kLongAddressLength : hart::kShortAddressLength;
}

bool IsRequestDelimiter(uint8_t delimiter) {
  return delimiter == hart::kShortRequest || delimiter == hart::kLongRequest;
}

std::string CommandText(int command) {
  const char *name = hart::CommandName(command);
  return "command " + std::to_string(command) + (*name ? std::string(" (") + name + ")" : std::string());
}

// The same address, the master's bit included: a slave in burst mode sets the burst bit in its replies.
bool SameAddress(const uint8_t *a, const uint8_t *b, size_t length) {
  constexpr uint8_t kCompared = hart::kPrimaryMaster | hart::kAddressMask;
  if ((a[0] & kCompared) != (b[0] & kCompared)) return false;
  for (size_t i = 1; i < length; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

std::string HartAnswer::Reason() const {
  switch (verdict) {
    case HartVerdict::NotAnAnswer: return problem;
    case HartVerdict::CommunicationError: return "communication error: " + hart::CommunicationErrorText(status);
    case HartVerdict::Data:
    case HartVerdict::Busy:
    case HartVerdict::Refused: return hart::ResponseCodeText(status, command);
  }
  return problem;
}

HartAnswer CheckHartAnswer(const std::vector<uint8_t> &request, const uint8_t *reply, size_t count) {
  HartAnswer answer;
  auto wrong = [&answer](std::string problem) {
    answer.verdict = HartVerdict::NotAnAnswer;
    answer.problem = std::move(problem);
    return answer;
  };

  size_t at = 0;
  while (at < request.size() && request[at] == hart::kPreamble) ++at;
  const size_t requestAddress = at + 1;
  if (at >= request.size() || !IsRequestDelimiter(request[at]) ||
      request.size() < requestAddress + AddressLength(request[at]) + 2)
    return wrong("the request is no HART request");
  const bool longRequest = request[at] & hart::kLongAddressFrame;
  const size_t addressLength = AddressLength(request[at]);
  const uint8_t command = request[requestAddress + addressLength];

  const auto span = FindHartReplyFrame(reply, count);
  if (!span)
    return wrong("no HART reply (preambles, then a slave's delimiter " + ByteToHex(hart::kShortReply) + " or " +
                 ByteToHex(hart::kLongReply) + ") in the " + std::to_string(count) + " bytes received");
  const uint8_t delimiter = reply[span->delimiter];
  const bool longReply = delimiter & hart::kLongAddressFrame;
  if (longReply != longRequest)
    return wrong(std::string(longReply ? "a long" : "a short") + "-address reply (" + ByteToHex(delimiter) + ") to a " +
                 (longRequest ? "long" : "short") + "-address request");
  answer.start = span->start;
  if (span->countAt == 0)
    return wrong("the reply ends after " + std::to_string(count - span->delimiter) +
                 " bytes from its delimiter, before its byte count");
  const size_t dataCount = reply[span->countAt];
  if (span->end == 0) {
    const size_t came = count - span->countAt - 1;
    return wrong("byte count " + std::to_string(dataCount) + ", but only " + std::to_string(came) +
                 " bytes came after it (" + std::to_string(dataCount) + " data bytes and the checksum were due)");
  }
  answer.length = span->end - span->start;
  const size_t checksumAt = span->end - 1;
  const uint8_t expected = HartChecksum(reply + span->delimiter, checksumAt - span->delimiter);
  if (reply[checksumAt] != expected)
    return wrong("checksum " + ByteToHex(reply[checksumAt]) + " wrong, expected " + ByteToHex(expected));

  const uint8_t *address = reply + span->delimiter + 1;
  if (!SameAddress(address, request.data() + requestAddress, addressLength))
    return wrong("answers address " + HexRun(address, addressLength) + ", not " +
                 HexRun(request.data() + requestAddress, addressLength));
  const uint8_t replied = address[addressLength];
  if (replied != command) return wrong("answers " + CommandText(replied) + ", not " + CommandText(command));
  answer.command = command;
  if (dataCount < 2)
    return wrong("byte count " + std::to_string(dataCount) + " leaves no room for the two status bytes");

  const uint8_t *data = reply + span->countAt + 1;
  answer.status = data[0];
  answer.deviceStatus = data[1];
  answer.data.assign(data + 2, data + dataCount);
  if (answer.status & hart::kCommunicationError) {
    answer.verdict = HartVerdict::CommunicationError;
  } else if (answer.status == hart::kSuccess || hart::IsWarningCode(answer.status)) {
    answer.verdict = HartVerdict::Data;
  } else if (answer.status == hart::kBusy || answer.status == hart::kDelayedResponseInitiated ||
             answer.status == hart::kDelayedResponseRunning) {
    answer.verdict = HartVerdict::Busy;
  } else {
    answer.verdict = HartVerdict::Refused;
  }
  return answer;
}

std::string TypedRequestProblem(const std::vector<uint8_t> &body) {
  if (body.empty()) return "no bytes";
  if (!IsRequestDelimiter(body[0]))
    return "byte 1 (" + ByteToHex(body[0]) + ") is not a request delimiter: " + ByteToHex(hart::kShortRequest) +
           " with a short address, " + ByteToHex(hart::kLongRequest) + " with a long one";
  const size_t header = 1 + AddressLength(body[0]) + 2;
  if (body.size() < header)
    return std::string(body[0] == hart::kLongRequest ? "a long" : "a short") + "-address request has " +
           std::to_string(header) + " bytes before its data (delimiter, address, command, byte count); " +
           std::to_string(body.size()) + " given";
  const size_t dataCount = body[header - 1];
  const size_t given = body.size() - header;
  if (dataCount != given)
    return "byte " + std::to_string(header) + ", the byte count (" + ByteToHex(body[header - 1]) + "), says " +
           std::to_string(dataCount) + ", but " + std::to_string(given) + " data bytes follow it";
  return "";
}
