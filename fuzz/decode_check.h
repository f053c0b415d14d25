// What the line decoders must do with any bytes, in either direction: cover them with entries in
// order, none overlapping or reaching past the end, each with a line of text, the same each time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/line_decoder.h"

namespace fuzz {

inline void CheckDecoding(const std::vector<uint8_t> &bytes) {
  for (LineDirection direction : {LineDirection::Sent, LineDirection::Received}) {
    const std::vector<DecodedFrame> frames = DecodeLine(bytes.data(), bytes.size(), direction);
    size_t at = 0;
    for (const DecodedFrame &f : frames) {
      if (f.offset != at || f.length == 0 || f.offset + f.length > bytes.size()) Fail("entries do not tile the bytes");
      if (f.text.empty()) Fail("an entry without text");
      at = f.offset + f.length;
    }
    if (at != bytes.size()) Fail("bytes left undecoded");
    if (DecodeLineText(bytes.data(), bytes.size(), direction) != DecodeLineText(bytes.data(), bytes.size(), direction))
      Fail("two decodings differ");
  }
}

}  // namespace fuzz
