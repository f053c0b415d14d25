// The one write loop of the pseudo-terminal's far end: the simulator's answers, the benchmark's
// and the tests' peers.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

// Writes all `size` bytes to the non-blocking `fd`, waiting for room while the terminal is full,
// for `limit` at most. The waits run with `waitMask` as the signal mask when one is given (so that
// signals blocked elsewhere, a program's stop signals, are taken during the wait); the loop gives
// up as soon as `*stop` is set. True when everything was written.
bool WriteAll(int fd, const uint8_t *data, size_t size, std::chrono::milliseconds limit,
              const sigset_t *waitMask = nullptr, const volatile sig_atomic_t *stop = nullptr);
