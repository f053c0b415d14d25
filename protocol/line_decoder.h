// What the bytes on the module's line mean: the module's command language, HART frames and
// MODBUS RTU frames, decoded into one line each. A write or a delivery may hold several frames,
// or noise before a frame; each becomes an entry of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class Dialect { Module, Hart, Modbus, Noise };
enum class LineDirection { Sent, Received };

struct DecodedFrame {
  Dialect dialect = Dialect::Noise;
  size_t offset = 0;  // where the frame starts in the bytes given
  size_t length = 0;
  std::string text;   // the decoded line
  bool flawed = false;  // a wrong checksum or CRC, a frame cut short
};

// Splits `bytes` into frames and decodes each. Sent bytes are requests, received ones answers.
std::vector<DecodedFrame> DecodeLine(const uint8_t *bytes, size_t count, LineDirection direction);

// The entries of DecodeLine joined into one line (" | " between them).
std::string DecodeLineText(const uint8_t *bytes, size_t count, LineDirection direction);

// DecodeLine's entries with their texts in DecodeLineText's line rather than in a string each: one
// allocation for all the texts, where a decoding holds dozens of entries.
struct DecodedLine {
  struct Entry {
    Dialect dialect = Dialect::Noise;
    size_t offset = 0;
    size_t length = 0;
    size_t textAt = 0;  // where the entry's text is in `text`
    size_t textLength = 0;
    bool flawed = false;
  };
  std::vector<Entry> entries;
  std::string text;  // the line

  std::string_view TextOf(const Entry &entry) const {
    return std::string_view(text).substr(entry.textAt, entry.textLength);
  }
};
DecodedLine DecodeLineJoined(const uint8_t *bytes, size_t count, LineDirection direction);

// "51 51 51 23  QQQ#": hexadecimal pairs, then the bytes as text ("." for what does not print).
std::string BytesAndText(const uint8_t *bytes, size_t count);

// A traced frame as rq735-sim -v and rq735ctl --trace print it: the bytes and their text, then on a
// second line, indented, what they mean.
std::string TraceText(const uint8_t *bytes, size_t count, LineDirection direction);

// The name of a dialect, as the monitor's filter shows it.
const char *DialectName(Dialect dialect);
