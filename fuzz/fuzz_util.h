// What the fuzz targets share: how a finding is reported (a line on standard error, then abort),
// and the receive copy of a delivery as the window holds it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {
[[noreturn]] inline void Fail(const std::string &what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

// Gives `read` the delivery as the receive copy holds it (404 bytes, its search length at most
// 255) once for each of several fills of the bytes past it, what earlier deliveries left there.
// The outcome, what `read` returns, must not depend on them.
template <typename Read>
void SameWhateverLiesPastTheDelivery(const uint8_t *data, size_t size, Read read) {
  std::string first;
  for (uint8_t stale : {0x00, 0xFF, 0x7F}) {
    std::array<uint8_t, 404> copy;
    copy.fill(stale);
    const int held = static_cast<int>(std::min<size_t>(size, copy.size()));
    std::memcpy(copy.data(), data, static_cast<size_t>(held));
    const std::string outcome = read(copy.data(), std::min(held, 255), held);
    if (stale == 0x00) first = outcome;
    else if (outcome != first) Fail("the outcome depends on bytes past the delivery");
  }
}

}  // namespace fuzz
