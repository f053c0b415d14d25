// The decoder of the module's language: any bytes, in the direction the first byte selects.
#include "fuzz/decode_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  fuzz::CheckDecoding(data + 1, size - 1, fuzz::DirectionOf(data[0]));
  return 0;
}
