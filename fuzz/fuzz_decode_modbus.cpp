// The MODBUS RTU decoder: any bytes with their CRC-16 after them, so that they are a frame.
#include <cstring>

#include "fuzz/decode_check.h"
#include "protocol/crc16.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(size + 2);
  if (size > 0) std::memcpy(bytes.data(), data, size);
  const Crc16Bytes crc = Crc16(data, size);
  bytes[size] = crc.low;
  bytes[size + 1] = crc.high;
  fuzz::CheckDecoding(bytes);
  return 0;
}
