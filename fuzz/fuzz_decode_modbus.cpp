// The MODBUS RTU decoder: any bytes with their CRC-16 after them, so that they are a frame, in the
// direction the first byte selects.
#include <cstring>
#include <vector>

#include "fuzz/decode_check.h"
#include "protocol/crc16.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t *frame = data + 1;
  const size_t length = size - 1;
  std::vector<uint8_t> bytes(length + 2);
  if (length > 0) std::memcpy(bytes.data(), frame, length);
  const Crc16Bytes crc = Crc16(frame, length);
  bytes[length] = crc.low;
  bytes[length + 1] = crc.high;
  fuzz::CheckDecoding(bytes.data(), bytes.size(), fuzz::DirectionOf(data[0]));
  return 0;
}
