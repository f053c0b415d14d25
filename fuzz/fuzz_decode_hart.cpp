// The HART decoder: any bytes after five preambles, so that most inputs reach a frame's fields.
#include <cstring>

#include "fuzz/decode_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(5 + size, 0xFF);
  if (size > 0) std::memcpy(bytes.data() + 5, data, size);
  fuzz::CheckDecoding(bytes);
  return 0;
}
