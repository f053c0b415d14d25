#include "pty/pty_write.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, const uint8_t *data, size_t size, std::chrono::milliseconds limit, const sigset_t *waitMask,
              const volatile sig_atomic_t *stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    if ((stop != nullptr && *stop) || left <= 0) return false;
    pollfd p{fd, POLLOUT, 0};
    const timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    ppoll(&p, 1, &wait, waitMask);  // a signal ends the wait early; `stop` tells whether to go on
  }
  return true;
}
