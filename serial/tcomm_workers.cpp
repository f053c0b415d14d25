// The loops of TComm's workers:
//   - the read worker gathers bytes into deliveries (ended by ReadIntervalTimeout of silence or a
//     full buffer) and checks the driver's error counters after each read;
//   - the write worker writes queued blocks in order and announces a drained queue;
//   - the modem watcher, only where the driver supports TIOCMIWAIT, reports carrier and ring.
// Every thread waits in the kernel while the line is idle, and reports by posting events.
#include "serial/tcomm_workers.h"

#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>

namespace serial_detail {

QEvent::Type CommEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool ReadCounters(int fd, serial_icounter_struct *counters) {
  std::memset(counters, 0, sizeof *counters);
  return ioctl(fd, TIOCGICOUNT, counters) == 0;
}

int WakeSignal() { return SIGRTMIN + 6; }

namespace {
void IgnoreWakeSignal(int) {}
}  // namespace

bool InstallWakeSignal() {
  static const bool installed = [] {
    struct sigaction current {};
    if (sigaction(WakeSignal(), nullptr, &current) != 0) return false;
    if (current.sa_handler != SIG_DFL) return false;
    struct sigaction action {};
    action.sa_handler = IgnoreWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait must return EINTR
    return sigaction(WakeSignal(), &action, nullptr) == 0;
  }();
  return installed;
}

}  // namespace serial_detail

namespace {

using Clock = std::chrono::steady_clock;
using serial_detail::ReadCounters;
using serial_detail::WakeSignal;

// Requested nice values: the read worker above the write worker. Refused without privilege.
constexpr int kReadWorkerNice = -10;
constexpr int kWriteWorkerNice = -5;

void RaiseThreadPriority(int niceValue) {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, niceValue);
}

// A terminal that was hung up reads as end of file; an empty write tells why (EIO where the device
// went away, as an unplugged adapter or a closed pseudo-terminal). 0 where it tells nothing.
int HungUpError(int fd) {
  const ssize_t wrote = ::write(fd, "", 0);
  return wrote < 0 && errno != EAGAIN && errno != EINTR ? errno : 0;
}

timespec ToTimespec(Clock::duration d) {
  if (d < Clock::duration::zero()) d = Clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Read worker

void TComm::Workers::ReadWorker() {
  RaiseThreadPriority(kReadWorkerNice);
  try {
    ReadLoop();
  } catch (...) {
    HangupAfterException();
  }
  tcflush(fd, TCIFLUSH);
}

void TComm::Workers::ReadLoop() {
  serial_icounter_struct seen{};
  const bool haveCounters = ReadCounters(fd, &seen);

  const size_t capacity = readBuffer.size();
  size_t gathered = 0;
  Clock::time_point firstByte;
  Clock::time_point lastByte;

  auto deliver = [&] {
    if (gathered == 0) return;
    std::vector<uint8_t> block(gathered + 1, 0);
    std::memcpy(block.data(), readBuffer.data(), gathered);
    Post(serial_detail::CommEventKind::ReceiveData, static_cast<uint32_t>(gathered), std::move(block));
    gathered = 0;
  };

  auto checkLineErrors = [&] {
    if (!haveCounters) return;
    serial_icounter_struct now{};
    if (!ReadCounters(fd, &now)) return;
    uint32_t flags = 0;
    if (now.frame != seen.frame) flags |= CE_FRAME;
    if (now.overrun != seen.overrun) flags |= CE_OVERRUN;
    if (now.buf_overrun != seen.buf_overrun) flags |= CE_RXOVER;
    if (now.parity != seen.parity) flags |= CE_RXPARITY;
    if (now.brk != seen.brk) flags |= CE_BREAK;
    seen = now;
    if (flags != 0) Post(serial_detail::CommEventKind::ReceiveError, flags);
  };

  bool failed = false;
  int failure = 0;  // the errno of the call that failed
  for (;;) {
    // A delivery in progress ends at the first of: the interval of silence after the last byte,
    // or the total time-out counted from its first byte. An idle line waits without limit.
    std::optional<Clock::time_point> deadline;
    if (gathered > 0) {
      const uint32_t interval = readInterval.load();
      const uint64_t total = uint64_t{readTotalConstant.load()} +
                             uint64_t{readTotalMultiplier.load()} * capacity;
      if (interval != 0 && interval != TComm::kNoIntervalWait)
        deadline = lastByte + std::chrono::milliseconds(interval);
      if (total != 0) {
        const auto totalEnd = firstByte + std::chrono::milliseconds(total);
        if (!deadline || totalEnd < *deadline) deadline = totalEnd;
      }
      if (deadline && Clock::now() >= *deadline) {
        deliver();
        continue;
      }
    }

    pollfd fds[2] = {{closeEvent, POLLIN, 0}, {fd, POLLIN, 0}};
    timespec wait{};
    if (deadline) wait = ToTimespec(*deadline - Clock::now());
    const int ready = ppoll(fds, 2, deadline ? &wait : nullptr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      failed = true;
      break;
    }
    if (fds[0].revents != 0 || closing.load()) break;
    if (ready == 0) {
      deliver();
      continue;
    }

    const short events = fds[1].revents;
    if (events & POLLIN) {
      size_t kept = 0;
      const ssize_t got = ReadInto(readBuffer.data() + gathered, capacity - gathered, &kept);
      if (got > 0) {
        const auto now = Clock::now();
        if (dropNullBytes.load()) {
          uint8_t *begin = readBuffer.data() + gathered;
          uint8_t *end = begin + kept;
          kept = static_cast<size_t>(std::remove(begin, end, uint8_t{0}) - begin);
        }
        checkLineErrors();
        if (kept > 0) {
          if (gathered == 0) firstByte = now;
          lastByte = now;
          gathered += kept;
        }
        if (gathered == capacity || (gathered > 0 && readInterval.load() == TComm::kNoIntervalWait)) deliver();
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      failure = got < 0 ? errno : socket ? 0 : HungUpError(fd);  // a read error, or end of file
      failed = true;
      break;
    }
    if (events & (POLLHUP | POLLERR | POLLNVAL)) {
      // The errno a read gives now says what happened (EIO for a device that went away).
      size_t kept = 0;
      const ssize_t got = gathered < capacity ? ReadInto(readBuffer.data() + gathered, 1, &kept) : 0;
      if (got > 0) {
        if (kept > 0) {
          if (gathered == 0) firstByte = Clock::now();
          lastByte = Clock::now();
          gathered += kept;
        }
        continue;
      }
      failure = got < 0 ? errno : socket ? 0 : HungUpError(fd);
      failed = true;
      break;
    }
  }

  if (failed) {
    deliver();  // what arrived before the failure still counts
    PostHangup(failure);
  }
}

// ---------------------------------------------------------------------------------------------
// Write worker

ssize_t TComm::Workers::ReadInto(uint8_t *into, size_t room, size_t *data) {
  if (!telnet) {
    const ssize_t got = ::read(fd, into, room);
    *data = got > 0 ? static_cast<size_t>(got) : 0;
    return got;
  }
  // Telnet gives no more data bytes than it reads, so the data fits where the bytes would.
  rawBuffer.resize(room);
  const ssize_t got = ::read(fd, rawBuffer.data(), room);
  *data = 0;
  if (got <= 0) return got;
  std::vector<uint8_t> decoded;
  std::vector<telnet::Command> commands;
  decoder.Feed(rawBuffer.data(), static_cast<size_t>(got), &decoded, &commands);
  if (!decoded.empty()) std::memcpy(into, decoded.data(), decoded.size());
  *data = decoded.size();
  if (!commands.empty()) TakeTelnet(commands);
  return got;
}

void TComm::Workers::Queue(std::vector<uint8_t> bytes) {
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    writeQueue.push_back(std::move(bytes));
  }
  if (writeWake >= 0) {
    const uint64_t one = 1;
    (void)!::write(writeWake, &one, sizeof one);
  }
}

void TComm::Workers::TakeTelnet(const std::vector<telnet::Command> &commands) {
  std::vector<uint8_t> answers;
  int notifications = 0;
  uint8_t modem = 0;
  {
    std::lock_guard<std::mutex> lock(telnetMutex);
    const int before = client.ModemNotifications();
    answers = client.Take(commands);
    notifications = client.ModemNotifications() - before;
    modem = client.ModemState();
  }
  if (!answers.empty()) Queue(std::move(answers));
  // A carrier change or a ring reported by the server raises the modem event as a local port does.
  uint32_t bits = 0;
  if (modem & telnet::rfc2217::kDeltaCarrierDetect) bits |= ME_CARRIER;
  if (modem & telnet::rfc2217::kTrailingEdgeRing) bits |= ME_RING;
  if (watchModem && notifications > 0 && bits != 0 && !closing.load())
    Post(serial_detail::CommEventKind::ModemStateChange, bits);
}

bool TComm::Workers::WriteBlock(const std::vector<uint8_t> &block) {
  size_t done = 0;
  while (done < block.size()) {
    // A socket whose far end is gone must fail the write, not raise SIGPIPE.
    const ssize_t wrote = socket ? ::send(fd, block.data() + done, block.size() - done, MSG_NOSIGNAL)
                                 : ::write(fd, block.data() + done, block.size() - done);
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote == 0 || errno != EAGAIN) {
      PostHangup(wrote < 0 ? errno : 0);
      return false;
    }
    // The driver's queue is full: wait until it takes more, or until the port is closed.
    for (;;) {
      pollfd fds[2] = {{closeEvent, POLLIN, 0}, {fd, POLLOUT, 0}};
      const int ready = ppoll(fds, 2, nullptr, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        PostHangup(errno);
        return false;
      }
      if (fds[0].revents != 0 || closing.load()) return false;
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        PostHangup(0);
        return false;
      }
      break;
    }
  }
  return true;
}

void TComm::Workers::WriteWorker() {
  RaiseThreadPriority(kWriteWorkerNice);
  try {
    WriteLoop();
  } catch (...) {
    HangupAfterException();
  }
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    writerAccepting = false;
    writeQueue.clear();
  }
  tcflush(fd, TCOFLUSH);
}

void TComm::Workers::WriteLoop() {
  // Set by a finished write, cleared when the drained queue is announced; the empty queue of a
  // fresh opening is announced too.
  bool announce = true;
  for (;;) {
    std::vector<uint8_t> block;
    bool have = false;
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      if (!writeQueue.empty()) {
        block = std::move(writeQueue.front());
        writeQueue.pop_front();
        have = true;
      }
    }

    if (!have) {
      if (announce) {
        Post(serial_detail::CommEventKind::SendDataEmpty);
        announce = false;
      }
      pollfd fds[2] = {{closeEvent, POLLIN, 0}, {writeWake, POLLIN, 0}};
      const int ready = ppoll(fds, 2, nullptr, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        PostHangup(errno);
        break;
      }
      if (fds[0].revents != 0 || closing.load()) break;
      uint64_t count = 0;
      (void)!::read(writeWake, &count, sizeof count);
      continue;
    }

    if (closing.load()) break;
    if (!WriteBlock(block)) break;
    announce = true;
  }
}

// ---------------------------------------------------------------------------------------------
// Modem watcher

void TComm::Workers::ModemWorker() {
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, WakeSignal());
  pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
  try {
    ModemLoop();
  } catch (...) {
    // modem notifications are optional
  }
  modemWatcherDone.store(true);
}

void TComm::Workers::ModemLoop() {
  serial_icounter_struct seen{};
  if (ReadCounters(fd, &seen)) {
    while (!closing.load()) {
      if (ioctl(fd, TIOCMIWAIT, static_cast<unsigned long>(TIOCM_CD | TIOCM_RI)) != 0) {
        if (errno == EINTR) continue;
        break;  // not supported after all, or the device went away (the read worker reports that)
      }
      serial_icounter_struct now{};
      if (!ReadCounters(fd, &now)) break;
      uint32_t bits = 0;
      if (now.dcd != seen.dcd) bits |= ME_CARRIER;
      if (now.rng != seen.rng) bits |= ME_RING;
      seen = now;
      if (bits != 0 && !closing.load()) Post(serial_detail::CommEventKind::ModemStateChange, bits);
    }
  }
}

// ---------------------------------------------------------------------------------------------
