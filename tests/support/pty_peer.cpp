#include "tests/support/pty_peer.h"

#include "pty/pty_write.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

using Clock = std::chrono::steady_clock;

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("cannot open a pseudo-terminal");
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname_r failed");
  slavePath_ = name;
  keptSlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keptSlave_ < 0) throw std::runtime_error("cannot open the slave side");
  termios t{};
  tcgetattr(keptSlave_, &t);
  cfmakeraw(&t);
  tcsetattr(keptSlave_, TCSANOW, &t);
  int flags = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { HangUp(); }

void PtyPeer::HangUp() {
  if (keptSlave_ >= 0) close(keptSlave_);
  if (master_ >= 0) close(master_);
  keptSlave_ = master_ = -1;
}

void PtyPeer::Write(const std::vector<uint8_t> &bytes) {
  WriteAll(master_, bytes.data(), bytes.size(), std::chrono::seconds(5));
}

void PtyPeer::Write(const std::string &text) { Write(std::vector<uint8_t>(text.begin(), text.end())); }

std::vector<uint8_t> PtyPeer::Read(std::chrono::milliseconds limit, std::chrono::milliseconds quiet) {
  std::vector<uint8_t> out;
  auto deadline = Clock::now() + limit;
  while (true) {
    auto now = Clock::now();
    if (now >= deadline) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    int wait = static_cast<int>(out.empty() ? left.count() : std::min(left, quiet).count());
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (!out.empty()) break;
      continue;
    }
    uint8_t buf[4096];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0)
      out.insert(out.end(), buf, buf + n);
    else if (n < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    else
      break;
  }
  return out;
}

std::string PtyPeer::ReadText(std::chrono::milliseconds limit, std::chrono::milliseconds quiet) {
  auto bytes = Read(limit, quiet);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> PtyPeer::ReadExactly(size_t n, std::chrono::milliseconds limit) {
  std::vector<uint8_t> out;
  auto deadline = Clock::now() + limit;
  while (out.size() < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buf[4096];
    ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
    if (got > 0) out.insert(out.end(), buf, buf + got);
  }
  return out;
}

void PtyPeer::Drain() {
  uint8_t buf[4096];
  while (::read(master_, buf, sizeof buf) > 0) {
  }
}
