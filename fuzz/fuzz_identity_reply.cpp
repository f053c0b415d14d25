// The identity answer (command 0) as it arrives from the line: any bytes.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "protocol/hart_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::SameWhateverLiesPastTheDelivery(data, size, [](const uint8_t *copy, int searchLength, int held) {
    const auto reply = ReadIdentityReply(copy, searchLength, held);
    if (!reply) return std::string("none");
    const auto &id = reply->identity;
    return std::to_string(id.manufacturer) + " " + std::to_string(id.deviceType) + " " + std::to_string(id.deviceId[0]) +
           " " + std::to_string(id.deviceId[1]) + " " + std::to_string(id.deviceId[2]) + " " +
           std::to_string(reply->preambleNeed);
  });
  return 0;
}
