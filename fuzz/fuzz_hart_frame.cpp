// The HART frame builders with any preamble count, address and payload.
//
// Input: two bytes of preamble count (signed), a byte choosing the frame, master flag, polling
// address or manufacturer, command, device type, three identifier bytes, then the payload.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "protocol/hart.h"

namespace {

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "FINDING: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 9) return 0;
  const int preambles = static_cast<int16_t>(data[0] << 8 | data[1]);
  const uint8_t kind = data[2] % 3;
  const uint8_t master = data[3];
  const uint8_t address = data[4];
  const uint8_t command = data[5];
  const HartIdentity id{address, data[6], {data[7], data[8], size > 9 ? data[9] : uint8_t{0}}};
  const std::vector<uint8_t> payload(data + 9, data + size);

  std::vector<uint8_t> body;
  std::vector<uint8_t> frame;
  switch (kind) {
    case 0:
      frame = HartShortFrame(preambles, master, address, command, payload);
      body = {0x02, static_cast<uint8_t>(master + address), command, static_cast<uint8_t>(payload.size())};
      break;
    case 1:
      frame = HartLongFrame(preambles, master, id, command, payload);
      body = {0x82, static_cast<uint8_t>(master | id.manufacturer), id.deviceType, id.deviceId[0], id.deviceId[1],
              id.deviceId[2], command, static_cast<uint8_t>(payload.size())};
      break;
    default:
      frame = HartRawFrame(preambles, payload);
      break;
  }
  body.insert(body.end(), payload.begin(), payload.end());

  // Preambles (none for a count below one), the body, and the XOR of the body.
  const size_t p = preambles > 0 ? static_cast<size_t>(preambles) : 0;
  if (frame.size() != p + body.size() + 1) Fail("frame length");
  for (size_t i = 0; i < p; ++i)
    if (frame[i] != 0xFF) Fail("preamble byte not FF");
  if (!std::equal(body.begin(), body.end(), frame.begin() + static_cast<long>(p))) Fail("body not carried as built");
  if (frame.back() != HartChecksum(body.data(), body.size())) Fail("checksum is not the XOR of the body");
  uint8_t x = 0;
  for (size_t i = p; i < frame.size(); ++i) x ^= frame[i];
  if (x != 0) Fail("checksum does not close the frame");
  return 0;
}
