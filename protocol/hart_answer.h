// A HART reply checked against the request it answers before any field of it is believed, and a
// request body typed by hand checked before it is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/hart_codes.h"

// What a reply says once it has checked out, or that it did not.
enum class HartVerdict {
  Data,                // response code 0, or a warning code: the data are the instrument's answer
  Busy,                // busy or a delayed response: the same request may be asked again
  Refused,             // any other response code: the reply carries no data to read
  CommunicationError,  // bit 7 of the first status byte: the instrument did not receive the request right
  NotAnAnswer,         // the bytes do not answer the request: `problem` says how
};

struct HartAnswer {
  HartVerdict verdict = HartVerdict::NotAnAnswer;
  std::string problem;  // NotAnAnswer: "checksum 87 wrong, expected 86", "answers command 1, not 3", ...
  // The reply frame within the bytes received: its first preamble, and its length through the checksum.
  size_t start = 0;
  size_t length = 0;
  uint8_t command = 0;       // of the request, which the reply answers
  uint8_t status = 0;        // the first status byte: a response code, or communication errors with bit 7
  uint8_t deviceStatus = 0;  // the second
  std::vector<uint8_t> data;  // what follows the two status bytes

  bool Warning() const { return verdict == HartVerdict::Data && status != hart::kSuccess; }
  // Why there are no data, or what the warning is: "64 command not implemented", "9 lower range
  // value too high" (what a code means for the command), "communication error: framing error", the problem.
  std::string Reason() const;
};

// `request` as it was sent (preambles, delimiter, address, command, byte count, data, checksum);
// `reply` the bytes received, noise before the frame allowed. The reply must come from a slave,
// with the request's kind of address, the address asked (the master's bit included; the burst bit
// is not compared), the command sent, a byte count that the bytes received hold with the checksum
// after it, the right checksum and the two status bytes.
HartAnswer CheckHartAnswer(const std::vector<uint8_t> &request, const uint8_t *reply, size_t count);

// The longest request body: delimiter, long address, command, byte count and the most data a byte
// count can give.
constexpr size_t kMaxRequestBody = 1 + hart::kLongAddressLength + 2 + hart::kMaxDataBytes;

// What is wrong with a body typed by hand (delimiter, address, command, byte count, data; no
// preambles, no checksum), naming the byte: "" when it may be sent.
std::string TypedRequestProblem(const std::vector<uint8_t> &body);
