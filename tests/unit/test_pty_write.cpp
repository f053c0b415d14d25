// The far end's write loop on a line nobody reads: a stop signal ends its wait at once.
#include "pty/pty_write.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

volatile sig_atomic_t gStopped = 0;
void OnStop(int) { gStopped = 1; }

TEST(PtyWrite, AStopSignalDuringAStalledWriteEndsItAtOnce) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  fcntl(fds[1], F_SETPIPE_SZ, 4096);
  const std::vector<uint8_t> chunk(4096, 0x55);
  while (write(fds[1], chunk.data(), chunk.size()) > 0) {
  }

  struct sigaction action {}, previous{};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, &previous);
  gStopped = 0;

  // As in the simulator: the stop signal is blocked but for the waits.
  std::atomic<bool> writing{false};
  bool wrote = true;
  Clock::duration took{};
  std::thread writer([&] {
    sigset_t stop, waitMask;
    sigemptyset(&stop);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, &waitMask);
    sigdelset(&waitMask, SIGUSR1);
    writing = true;
    const auto start = Clock::now();
    wrote = WriteAll(fds[1], chunk.data(), chunk.size(), milliseconds(2000), &waitMask, &gStopped);
    took = Clock::now() - start;
  });
  while (!writing) std::this_thread::yield();
  std::this_thread::sleep_for(milliseconds(100));
  pthread_kill(writer.native_handle(), SIGUSR1);
  writer.join();
  sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_FALSE(wrote);
  EXPECT_LT(std::chrono::duration_cast<milliseconds>(took).count(), 500) << "the write waited out its limit";
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
