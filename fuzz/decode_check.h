// What the line decoders must do with any bytes, in either direction: cover them with entries in
// order, none overlapping or reaching past the end, each with a line of text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_util.h"
#include "protocol/line_decoder.h"

namespace fuzz {

// The first byte of an input says which way the rest goes: received when its low bit is set. One
// way an execution, and the fuzzer finds its way to both.
inline LineDirection DirectionOf(uint8_t selector) {
  return (selector & 1) != 0 ? LineDirection::Received : LineDirection::Sent;
}

// DecodeLine and DecodeLineText copy these entries and this line. The check's own decisions are
// left out of coverage: they would only count the entries.
__attribute__((no_sanitize("coverage"), noinline)) inline void CheckDecoding(const uint8_t *bytes, size_t count,
                                                                           LineDirection direction) {
  const DecodedLine line = DecodeLineJoined(bytes, count, direction);
  size_t at = 0;
  for (const DecodedLine::Entry &e : line.entries) {
    if (e.offset != at || e.length == 0 || e.offset + e.length > count) Fail("entries do not tile the bytes");
    if (e.textLength == 0) Fail("an entry without text");
    if (e.textAt + e.textLength > line.text.size()) Fail("an entry's text past the line");
    at = e.offset + e.length;
  }
  if (at != count) Fail("bytes left undecoded");
}

}  // namespace fuzz
