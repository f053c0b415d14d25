// TComm on POSIX.
//
// One opening owns: the non-blocking port descriptor, a close event (an eventfd that is written
// once and never read, so it stays signalled like a manual-reset event), a wake-up eventfd for the
// write queue, and up to three threads:
//   - the read worker gathers bytes into deliveries (ended by ReadIntervalTimeout of silence or a
//     full buffer) and checks the driver's error counters after each read;
//   - the write worker writes queued blocks in order and announces a drained queue;
//   - the modem watcher, only where the driver supports TIOCMIWAIT, reports carrier and ring.
// Every thread waits in the kernel while the line is idle. Workers report to the TComm object by
// posting events; TComm::event raises the callbacks on the object's own thread.
#include "serial/tcomm.h"

#include "serial/termios2_baud.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kNoIntervalWait = std::numeric_limits<uint32_t>::max();

// Requested nice values: the read worker above the write worker. Refused without privilege.
constexpr int kReadWorkerNice = -10;
constexpr int kWriteWorkerNice = -5;

enum class CommEventKind { ReceiveData, ReceiveError, RequestHangup, ModemStateChange, SendDataEmpty };

QEvent::Type CommEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class CommEvent : public QEvent {
 public:
  CommEvent(CommEventKind kind, uint32_t value, std::vector<uint8_t> block = {})
      : QEvent(CommEventType()), kind(kind), value(value), block(std::move(block)) {}

  const CommEventKind kind;
  const uint32_t value;            // byte count, error flags or modem bits
  const std::vector<uint8_t> block;  // received bytes plus a terminating zero byte
};

void RaiseThreadPriority(int niceValue) {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, tid, niceValue);
}

timespec ToTimespec(Clock::duration d) {
  if (d < Clock::duration::zero()) d = Clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

bool ReadCounters(int fd, serial_icounter_struct *counters) {
  std::memset(counters, 0, sizeof *counters);
  return ioctl(fd, TIOCGICOUNT, counters) == 0;
}

// The modem watcher sleeps in TIOCMIWAIT, which only a signal interrupts. This signal gets a
// handler that does nothing and does not restart system calls; it is installed once, and only
// if nobody else has claimed the signal.
int WakeSignal() { return SIGRTMIN + 6; }

void IgnoreWakeSignal(int) {}

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

speed_t SpeedConstant(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
  }
}

}  // namespace

struct TComm::Workers {
  Workers(TComm *owner, int fd, std::shared_ptr<std::atomic<bool>> sendQueueEmpty)
      : owner(owner), fd(fd), sendQueueEmpty(std::move(sendQueueEmpty)), readBuffer(kReadBufferSize) {}

  TComm *const owner;
  const int fd;
  int closeEvent = -1;
  int writeWake = -1;
  std::atomic<bool> closing{false};
  std::shared_ptr<std::atomic<bool>> sendQueueEmpty;

  // The port's time-out record and the receive options the driver cannot apply itself.
  std::atomic<uint32_t> readInterval{0};
  std::atomic<uint32_t> readTotalMultiplier{0};
  std::atomic<uint32_t> readTotalConstant{0};
  std::atomic<uint32_t> writeTotalMultiplier{0};  // kept with the record; writes wait for the
  std::atomic<uint32_t> writeTotalConstant{0};    // driver or the close event, not for a time-out
  std::atomic<bool> dropNullBytes{false};

  std::vector<uint8_t> readBuffer;  // used by the read worker only

  std::mutex queueMutex;
  std::deque<std::vector<uint8_t>> writeQueue;  // guarded by queueMutex
  bool writerAccepting = false;                 // guarded by queueMutex

  bool rs485Enabled = false;  // window thread only

  std::thread reader;
  std::thread writer;
  std::thread modemWatcher;
  std::atomic<bool> modemWatcherDone{false};

  void Post(CommEventKind kind, uint32_t value = 0, std::vector<uint8_t> block = {}) {
    QCoreApplication::postEvent(owner, new CommEvent(kind, value, std::move(block)));
  }

  // Each worker that fails reports it once, and ends.
  void PostHangup() { Post(CommEventKind::RequestHangup); }

  // Thread bodies: the loop runs inside, the clean-up always follows it. Running out of memory
  // ends a worker like any other failure.
  void ReadWorker();
  void WriteWorker();
  void ModemWorker();

  void ReadLoop();
  void WriteLoop();
  void ModemLoop();
  bool WriteBlock(const std::vector<uint8_t> &block);
  void HangupAfterException() noexcept {
    try {
      PostHangup();
    } catch (...) {
    }
  }
};

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
    Post(CommEventKind::ReceiveData, static_cast<uint32_t>(gathered), std::move(block));
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
    if (flags != 0) Post(CommEventKind::ReceiveError, flags);
  };

  bool failed = false;
  for (;;) {
    // A delivery in progress ends at the first of: the interval of silence after the last byte,
    // or the total time-out counted from its first byte. An idle line waits without limit.
    std::optional<Clock::time_point> deadline;
    if (gathered > 0) {
      const uint32_t interval = readInterval.load();
      const uint64_t total = uint64_t{readTotalConstant.load()} +
                             uint64_t{readTotalMultiplier.load()} * capacity;
      if (interval != 0 && interval != kNoIntervalWait)
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
      const ssize_t got = ::read(fd, readBuffer.data() + gathered, capacity - gathered);
      if (got > 0) {
        const auto now = Clock::now();
        size_t kept = static_cast<size_t>(got);
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
        if (gathered == capacity || (gathered > 0 && readInterval.load() == kNoIntervalWait)) deliver();
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      failed = true;  // end of file (hung up) or a read error
      break;
    }
    if (events & (POLLHUP | POLLERR | POLLNVAL)) {
      failed = true;
      break;
    }
  }

  if (failed) {
    deliver();  // what arrived before the failure still counts
    PostHangup();
  }
}

// ---------------------------------------------------------------------------------------------
// Write worker

bool TComm::Workers::WriteBlock(const std::vector<uint8_t> &block) {
  size_t done = 0;
  while (done < block.size()) {
    const ssize_t wrote = ::write(fd, block.data() + done, block.size() - done);
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote == 0 || errno != EAGAIN) {
      PostHangup();
      return false;
    }
    // The driver's queue is full: wait until it takes more, or until the port is closed.
    for (;;) {
      pollfd fds[2] = {{closeEvent, POLLIN, 0}, {fd, POLLOUT, 0}};
      const int ready = ppoll(fds, 2, nullptr, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        PostHangup();
        return false;
      }
      if (fds[0].revents != 0 || closing.load()) return false;
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        PostHangup();
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
  sendQueueEmpty->store(true);
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
      } else {
        sendQueueEmpty->store(true);
      }
    }

    if (!have) {
      if (announce) {
        Post(CommEventKind::SendDataEmpty);
        announce = false;
      }
      pollfd fds[2] = {{closeEvent, POLLIN, 0}, {writeWake, POLLIN, 0}};
      const int ready = ppoll(fds, 2, nullptr, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) {
        PostHangup();
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
      if (bits != 0 && !closing.load()) Post(CommEventKind::ModemStateChange, bits);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TComm

std::string CommDevicePath(const std::string &commName) {
  if (!commName.empty() && commName[0] == '/') return commName;
  if (commName.size() > 3 && commName.size() <= 12 && commName.compare(0, 3, "COM") == 0) {
    uint64_t n = 0;
    bool digits = true;
    for (size_t i = 3; i < commName.size(); ++i) {
      const char c = commName[i];
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (digits && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return "/dev/" + commName;
}

TComm::TComm(QObject *parent)
    : QObject(parent), sendQueueEmpty_(std::make_shared<std::atomic<bool>>(true)) {
  CommEventType();  // register the event type on the owning thread
}

TComm::~TComm() { ClosePort(); }

bool TComm::IsOpen() const { return fd_ >= 0; }

void TComm::OpenPort() {
  if (fd_ >= 0) throw ECommsError("This serial port already opened");

  const std::string path = CommDevicePath(QFile::encodeName(commName_).toStdString());
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ECommsError("Error opening serial port", errno, path);
  if (!isatty(fd)) {
    const int error = errno;
    ::close(fd);
    throw ECommsError("File handle is not a comm handle ", error, path);
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    ::close(fd);
    throw ECommsError("Error opening serial port", error, path);
  }

  std::unique_ptr<Workers> workers;
  try {
    workers = std::make_unique<Workers>(this, fd, sendQueueEmpty_);
  } catch (const std::bad_alloc &) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    throw ECommsError("Cannot setup comm buffer");
  }

  fd_ = fd;
  workers_ = std::move(workers);
  Workers &w = *workers_;
  tcflush(fd_, TCIOFLUSH);
  sendQueueEmpty_->store(true);

  ApplyTimeouts();
  ApplyLineSettings();

  w.closeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  w.writeWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (w.closeEvent < 0 || w.writeWake < 0) {
    const int error = errno;
    ReleasePort();
    throw ECommsError("Unable to create event", error, path);
  }

  try {
    w.reader = std::thread([&w] { w.ReadWorker(); });
  } catch (const std::system_error &e) {
    ReleasePort();
    throw ECommsError("Unable to create read thread", e.code().value(), path);
  }

  serial_icounter_struct probe{};
  if (ReadCounters(fd_, &probe) && InstallWakeSignal()) {
    try {
      w.modemWatcher = std::thread([&w] { w.ModemWorker(); });
    } catch (const std::system_error &) {
      // modem notifications are optional
    }
  }

  {
    std::lock_guard<std::mutex> lock(w.queueMutex);
    w.writerAccepting = true;
  }
  try {
    w.writer = std::thread([&w] { w.WriteWorker(); });
  } catch (const std::system_error &e) {
    StopWorkers();
    ReleasePort();
    throw ECommsError("Unable to create write thread", e.code().value(), path);
  }
}

void TComm::ClosePort() {
  if (fd_ < 0) return;
  StopWorkers();
  ReleasePort();
}

void TComm::StopWorkers() {
  if (!workers_) return;
  Workers &w = *workers_;
  w.closing.store(true);
  if (w.closeEvent >= 0) {
    const uint64_t one = 1;
    (void)!::write(w.closeEvent, &one, sizeof one);
  }
  {
    std::lock_guard<std::mutex> lock(w.queueMutex);
    w.writerAccepting = false;
  }

  tcflush(fd_, TCIFLUSH);
  if (w.reader.joinable()) w.reader.join();

  if (w.modemWatcher.joinable()) {
    // The signal may land just before the watcher enters its wait, so repeat it until it ends.
    while (!w.modemWatcherDone.load()) {
      pthread_kill(w.modemWatcher.native_handle(), WakeSignal());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    w.modemWatcher.join();
  }

  tcflush(fd_, TCOFLUSH);
  sendQueueEmpty_->store(true);
  if (w.writer.joinable()) w.writer.join();

  // What the workers posted and the window has not handled yet belongs to this opening: a later
  // one must not see it.
  QCoreApplication::removePostedEvents(this, CommEventType());
}

void TComm::ReleasePort() {
  if (workers_) {
    Workers &w = *workers_;
    if (w.rs485Enabled) {
      serial_rs485 rs485{};
      if (ioctl(fd_, TIOCGRS485, &rs485) == 0) {
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
        ioctl(fd_, TIOCSRS485, &rs485);
      }
    }
    if (w.closeEvent >= 0) ::close(w.closeEvent);
    if (w.writeWake >= 0) ::close(w.writeWake);
    workers_.reset();
  }
  if (fd_ >= 0) {
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
  }
}

bool TComm::WriteData(const uint8_t *data, uint16_t count) {
  if (!workers_ || count == 0 || data == nullptr) return false;
  Workers &w = *workers_;
  std::vector<uint8_t> block(data, data + count);
  {
    std::lock_guard<std::mutex> lock(w.queueMutex);
    if (!w.writerAccepting) return false;  // the write worker has ended
    sendQueueEmpty_->store(false);
    w.writeQueue.push_back(std::move(block));
  }
  const uint64_t one = 1;
  (void)!::write(w.writeWake, &one, sizeof one);
  return true;
}

bool TComm::event(QEvent *e) {
  if (e->type() != CommEventType()) return QObject::event(e);
  const auto *ce = static_cast<const CommEvent *>(e);
  // Each handler is copied before the call, so a handler may reassign itself safely.
  switch (ce->kind) {
    case CommEventKind::ReceiveData:
      if (OnReceiveData) {
        const auto handler = OnReceiveData;
        handler(this, ce->block.data(), static_cast<uint16_t>(ce->value & 0xFFFF));
      }
      break;
    case CommEventKind::ReceiveError:
      if (OnReceiveError) {
        const auto handler = OnReceiveError;
        handler(this, ce->value);
      }
      break;
    case CommEventKind::RequestHangup:
      if (OnRequestHangup) {
        const auto handler = OnRequestHangup;
        handler(this);
      }
      break;
    case CommEventKind::ModemStateChange:
      if (OnModemStateChange) {
        const auto handler = OnModemStateChange;
        handler(this, ce->value);
      }
      break;
    case CommEventKind::SendDataEmpty:
      if (OnSendDataEmpty) {
        const auto handler = OnSendDataEmpty;
        handler(this);
      }
      break;
  }
  return true;
}

void TComm::ApplyTimeouts() {
  if (fd_ < 0 || !workers_) return;
  ++timeoutsApplied_;
  Workers &w = *workers_;
  w.readInterval.store(readIntervalTimeout_);
  w.readTotalMultiplier.store(readTotalTimeoutMultiplier_);
  w.readTotalConstant.store(readTotalTimeoutConstant_);
  w.writeTotalMultiplier.store(writeTotalTimeoutMultiplier_);
  w.writeTotalConstant.store(writeTotalTimeoutConstant_);
}

// Carries the properties onto termios and the modem-control lines. Results are not examined:
// a pseudo-terminal refuses some of them. DSR flow control and sensitivity, XON/XOFF limits,
// TxContinueOnXoff and the parity-error replacement character have no termios counterpart.
void TComm::ApplyLineSettings() {
  if (fd_ < 0 || !workers_) return;
  ++lineSettingsApplied_;
  Workers &w = *workers_;
  w.dropNullBytes.store(ignoreNullChar_);

  termios t{};
  if (tcgetattr(fd_, &t) == 0) {
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY | IGNBRK | BRKINT);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;

    switch (byteSize_) {
      case TByteSize::_5: t.c_cflag |= CS5; break;
      case TByteSize::_6: t.c_cflag |= CS6; break;
      case TByteSize::_7: t.c_cflag |= CS7; break;
      case TByteSize::_8: t.c_cflag |= CS8; break;
    }
    switch (parity_) {
      case TParity::None: break;
      case TParity::Odd: t.c_cflag |= PARENB | PARODD; break;
      case TParity::Even: t.c_cflag |= PARENB; break;
      case TParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
      case TParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (stopBits_ != TStopBits::_1) t.c_cflag |= CSTOPB;  // 1.5 stop bits is CSTOPB with 5 data bits
    if (parityCheck_) t.c_iflag |= INPCK;
    if (outxCtsFlow_ || rtsControl_ == TRtsControl::RtsHandshake) t.c_cflag |= CRTSCTS;
    if (outxXonXoffFlow_) t.c_iflag |= IXON;
    if (inxXonXoffFlow_) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(xonChar_);
    t.c_cc[VSTOP] = static_cast<cc_t>(xoffChar_);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    // A rate of 0 would hang up the line; it leaves the present speed alone.
    const speed_t speed = SpeedConstant(baudRate_);
    if (speed != B0) {
      cfsetispeed(&t, speed);
      cfsetospeed(&t, speed);
    }
    tcsetattr(fd_, TCSANOW, &t);
    if (speed == B0 && baudRate_ != 0) serial_detail::SetArbitraryBaudRate(fd_, baudRate_);
  }

  int line = TIOCM_DTR;
  ioctl(fd_, dtrControl_ == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &line);
  if (rtsControl_ == TRtsControl::RtsEnable || rtsControl_ == TRtsControl::RtsDisable) {
    line = TIOCM_RTS;
    ioctl(fd_, rtsControl_ == TRtsControl::RtsEnable ? TIOCMBIS : TIOCMBIC, &line);
  }

  // RTS raised only while sending is the driver's RS-485 mode.
  const bool wantRs485 = rtsControl_ == TRtsControl::RtsTransmissionAvailable;
  if (wantRs485 != w.rs485Enabled) {
    serial_rs485 rs485{};
    if (ioctl(fd_, TIOCGRS485, &rs485) == 0) {
      if (wantRs485) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
      } else {
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
      }
      if (ioctl(fd_, TIOCSRS485, &rs485) == 0) w.rs485Enabled = wantRs485;
    }
  }
}

#define TCOMM_SETTER(Name, Type, member, apply) \
  void TComm::Set##Name(Type v) {               \
    if (member == v) return;                    \
    member = v;                                 \
    if (IsOpen()) apply();                      \
  }

TCOMM_SETTER(BaudRate, uint32_t, baudRate_, ApplyLineSettings)
TCOMM_SETTER(ParityCheck, bool, parityCheck_, ApplyLineSettings)
TCOMM_SETTER(Outx_CtsFlow, bool, outxCtsFlow_, ApplyLineSettings)
TCOMM_SETTER(Outx_DsrFlow, bool, outxDsrFlow_, ApplyLineSettings)
TCOMM_SETTER(DtrControl, TDtrControl, dtrControl_, ApplyLineSettings)
TCOMM_SETTER(DsrSensitivity, bool, dsrSensitivity_, ApplyLineSettings)
TCOMM_SETTER(TxContinueOnXoff, bool, txContinueOnXoff_, ApplyLineSettings)
TCOMM_SETTER(Outx_XonXoffFlow, bool, outxXonXoffFlow_, ApplyLineSettings)
TCOMM_SETTER(Inx_XonXoffFlow, bool, inxXonXoffFlow_, ApplyLineSettings)
TCOMM_SETTER(ReplaceWhenParityError, bool, replaceWhenParityError_, ApplyLineSettings)
TCOMM_SETTER(IgnoreNullChar, bool, ignoreNullChar_, ApplyLineSettings)
TCOMM_SETTER(RtsControl, TRtsControl, rtsControl_, ApplyLineSettings)
TCOMM_SETTER(XonLimit, uint16_t, xonLimit_, ApplyLineSettings)
TCOMM_SETTER(XoffLimit, uint16_t, xoffLimit_, ApplyLineSettings)
TCOMM_SETTER(ByteSize, TByteSize, byteSize_, ApplyLineSettings)
TCOMM_SETTER(StopBits, TStopBits, stopBits_, ApplyLineSettings)
TCOMM_SETTER(XonChar, char, xonChar_, ApplyLineSettings)
TCOMM_SETTER(XoffChar, char, xoffChar_, ApplyLineSettings)
TCOMM_SETTER(ReplacedChar, char, replacedChar_, ApplyLineSettings)
TCOMM_SETTER(ReadIntervalTimeout, uint32_t, readIntervalTimeout_, ApplyTimeouts)
TCOMM_SETTER(ReadTotalTimeoutMultiplier, uint32_t, readTotalTimeoutMultiplier_, ApplyTimeouts)
TCOMM_SETTER(ReadTotalTimeoutConstant, uint32_t, readTotalTimeoutConstant_, ApplyTimeouts)
TCOMM_SETTER(WriteTotalTimeoutMultiplier, uint32_t, writeTotalTimeoutMultiplier_, ApplyTimeouts)
TCOMM_SETTER(WriteTotalTimeoutConstant, uint32_t, writeTotalTimeoutConstant_, ApplyTimeouts)

#undef TCOMM_SETTER
