// The HART decoder: any bytes after five preambles, so that most inputs reach a frame's fields.
#include "fuzz/decode_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(5, 0xFF);
  bytes.insert(bytes.end(), data, data + size);
  fuzz::CheckDecoding(bytes);
  return 0;
}
