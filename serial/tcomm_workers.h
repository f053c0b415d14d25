// The workers of one TComm opening and the events they post to it; internal to serial/.
#pragma once

#include <QCoreApplication>
#include <QEvent>

#include <linux/serial.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/telnet.h"
#include "serial/tcomm.h"

namespace serial_detail {

enum class CommEventKind { ReceiveData, ReceiveError, RequestHangup, ModemStateChange, SendDataEmpty };

QEvent::Type CommEventType();

class CommEvent : public QEvent {
 public:
  CommEvent(CommEventKind kind, uint32_t value, std::vector<uint8_t> block = {})
      : QEvent(CommEventType()), kind(kind), value(value), block(std::move(block)) {}

  const CommEventKind kind;
  const uint32_t value;              // byte count, error flags, modem bits or a hang-up's errno
  const std::vector<uint8_t> block;  // received bytes plus a terminating zero byte
};

// The driver's counters of line events; false where it keeps none (a pseudo-terminal).
bool ReadCounters(int fd, serial_icounter_struct *counters);

// The modem watcher sleeps in TIOCMIWAIT, which only a signal interrupts: this one, whose handler
// does nothing and restarts no system call. It is installed once, and only if nobody else has
// claimed the signal.
int WakeSignal();
bool InstallWakeSignal();

}  // namespace serial_detail

struct TComm::Workers {
  Workers(TComm *owner, int fd) : owner(owner), fd(fd), readBuffer(kReadBufferSize) {}

  TComm *const owner;
  const int fd;
  int closeEvent = -1;
  int writeWake = -1;
  std::atomic<bool> closing{false};

  // The read time-outs and the receive options the driver cannot apply itself. (Writes wait for
  // the driver or the close event, never for a time-out.)
  std::atomic<uint32_t> readInterval{0};
  std::atomic<uint32_t> readTotalMultiplier{0};
  std::atomic<uint32_t> readTotalConstant{0};
  std::atomic<bool> dropNullBytes{false};

  std::vector<uint8_t> readBuffer;  // used by the read worker only

  std::mutex queueMutex;
  std::deque<std::vector<uint8_t>> writeQueue;  // guarded by queueMutex
  bool writerAccepting = false;                 // guarded by queueMutex

  bool rs485Enabled = false;  // window thread only

  // A port behind a device server: a socket, and for RFC 2217 the telnet layer on it. Set before
  // the workers start.
  bool socket = false;
  bool telnet = false;
  bool watchModem = false;  // the opening was made with OnModemStateChange set
  std::mutex telnetMutex;
  telnet::Rfc2217Client client;  // guarded by telnetMutex
  telnet::Decoder decoder;       // read worker only
  std::vector<uint8_t> rawBuffer;  // read worker only: the connection's bytes before decoding

  // Bytes as they go on the wire (already escaped, or telnet commands), after those queued.
  void Queue(std::vector<uint8_t> bytes);
  // The telnet commands in `commands`: the client's answers queued, its modem notifications posted.
  void TakeTelnet(const std::vector<telnet::Command> &commands);

  std::thread reader;
  std::thread writer;
  std::thread modemWatcher;
  std::atomic<bool> modemWatcherDone{false};

  void Post(serial_detail::CommEventKind kind, uint32_t value = 0, std::vector<uint8_t> block = {}) {
    QCoreApplication::postEvent(owner, new serial_detail::CommEvent(kind, value, std::move(block)));
  }

  // Each worker that fails reports it once, and ends. `error` is the errno of the call that failed,
  // saved before anything else ran; 0 where the device ended without one (end of file, a hang-up).
  void PostHangup(int error) { Post(serial_detail::CommEventKind::RequestHangup, static_cast<uint32_t>(error)); }

  // Thread bodies: the loop runs inside, the clean-up always follows it. Running out of memory
  // ends a worker like any other failure.
  void ReadWorker();
  void WriteWorker();
  void ModemWorker();

  void ReadLoop();
  void WriteLoop();
  void ModemLoop();
  bool WriteBlock(const std::vector<uint8_t> &block);
  // Reads what the port holds into `into` (at most `room` bytes): the bytes read, as read(2)
  // returns them, and in `data` how many of them are data (a telnet command is not).
  ssize_t ReadInto(uint8_t *into, size_t room, size_t *data);
  void HangupAfterException() noexcept {
    try {
      PostHangup(0);
    } catch (...) {
    }
  }
};
