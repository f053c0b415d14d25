// The MODBUS RTU decoder: any bytes with their CRC-16 after them, so that they are a frame.
#include "fuzz/decode_check.h"
#include "protocol/crc16.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const Crc16Bytes crc = Crc16(bytes.data(), bytes.size());
  bytes.push_back(crc.low);
  bytes.push_back(crc.high);
  fuzz::CheckDecoding(bytes);
  return 0;
}
