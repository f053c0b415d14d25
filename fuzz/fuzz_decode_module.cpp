// The decoder of the module's language: any bytes, in both directions.
#include "fuzz/decode_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::CheckDecoding(std::vector<uint8_t>(data, data + size));
  return 0;
}
