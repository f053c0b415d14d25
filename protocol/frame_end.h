// Whether a reply is whole, from its own bytes: a command-line exchange ends there instead of
// waiting for the line to fall silent. Each function gives the length of the bytes up to and
// including the end of the reply (noise before it counted in), or 0 while more must come. A reply
// that does not check out by its own CRC or checksum is never whole here: its end is the silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The module's answers to a setting: taken, or refused.
inline constexpr std::string_view kSettingTaken = "OK#";
inline constexpr std::string_view kSettingRefused = "ERR#";

// A MODBUS RTU answer at the first byte: slave, function, then the byte count's data (a read), the
// echo of a write, or an exception's code; its CRC holds.
size_t ModbusAnswerEnd(const uint8_t *bytes, size_t count);

// Where the first HART reply stands: a run of preambles followed by a slave's reply delimiter
// (short or long address), its byte count, and `end` one past the checksum (0 when the frame is
// not all in yet).
struct HartReplySpan {
  size_t start = 0;      // the first preamble
  size_t delimiter = 0;  // its offset
  size_t countAt = 0;    // the byte count's offset (0 when it has not come)
  size_t end = 0;
};
std::optional<HartReplySpan> FindHartReplyFrame(const uint8_t *bytes, size_t count);

// The first HART reply, once its byte count's data and its checksum are in and the checksum holds.
size_t HartReplyEnd(const uint8_t *bytes, size_t count);

// The module's acknowledgement of a setting: the first "OK#" or "ERR#".
size_t AcknowledgementEnd(const uint8_t *bytes, size_t count);
