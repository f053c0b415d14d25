// What the line decoders must do with any bytes, in either direction: cover them with entries in
// order, none overlapping or reaching past the end, each with a line of text, the same each time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "protocol/line_decoder.h"

namespace fuzz {

inline void CheckDecoding(const std::vector<uint8_t> &bytes) {
  for (LineDirection direction : {LineDirection::Sent, LineDirection::Received}) {
    const std::vector<DecodedFrame> frames = DecodeLine(bytes.data(), bytes.size(), direction);
    // The second decoding, made as one text, must be the entries' texts joined.
    const std::string text = DecodeLineText(bytes.data(), bytes.size(), direction);
    std::string_view rest = text;
    size_t at = 0;
    for (const DecodedFrame &f : frames) {
      if (f.offset != at || f.length == 0 || f.offset + f.length > bytes.size()) Fail("entries do not tile the bytes");
      if (f.text.empty()) Fail("an entry without text");
      at = f.offset + f.length;
      if (f.offset != 0) {
        if (rest.size() < 3 || rest[0] != ' ' || rest[1] != '|' || rest[2] != ' ') Fail("two decodings differ");
        rest.remove_prefix(3);
      }
      if (rest.substr(0, f.text.size()) != f.text) Fail("two decodings differ");
      rest.remove_prefix(f.text.size());
    }
    if (at != bytes.size()) Fail("bytes left undecoded");
    if (!rest.empty()) Fail("two decodings differ");
  }
}

}  // namespace fuzz
