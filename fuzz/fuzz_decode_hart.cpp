// The HART decoder: any bytes after five preambles, so that most inputs reach a frame's fields, in
// the direction the first byte selects.
#include <cstring>
#include <vector>

#include "fuzz/decode_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(5 + size - 1, 0xFF);
  if (size > 1) std::memcpy(bytes.data() + 5, data + 1, size - 1);
  fuzz::CheckDecoding(bytes.data(), bytes.size(), fuzz::DirectionOf(data[0]));
  return 0;
}
