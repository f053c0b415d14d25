// Writing an answer to the simulator's side of the pseudo-terminal.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <vector>

// Writes all of `bytes` to the non-blocking `fd`. While the far end reads nothing and the
// terminal is full, it waits for room with `waitMask` as the signal mask, so that signals blocked
// elsewhere (the stop signals) are taken during the wait; it gives up when `stop` is set or
// `limit` has passed. True when everything was written.
bool WriteAll(int fd, const std::vector<uint8_t> &bytes, std::chrono::milliseconds limit, const sigset_t &waitMask,
              const volatile sig_atomic_t &stop);
