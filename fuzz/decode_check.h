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

inline void CheckDecoding(const uint8_t *bytes, size_t count, LineDirection direction) {
  size_t at = 0;
  for (const DecodedFrame &f : DecodeLine(bytes, count, direction)) {
    if (f.offset != at || f.length == 0 || f.offset + f.length > count) Fail("entries do not tile the bytes");
    if (f.text.empty()) Fail("an entry without text");
    at = f.offset + f.length;
  }
  if (at != count) Fail("bytes left undecoded");
}

}  // namespace fuzz
