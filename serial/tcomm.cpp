// TComm on POSIX.
//
// One opening owns: the non-blocking port descriptor, a close event (an eventfd that is written
// once and never read, so it stays signalled like a manual-reset event), a wake-up eventfd for the
// write queue, and the worker threads (serial/tcomm_workers.cpp). Workers report to the TComm
// object by posting events; TComm::event raises the callbacks on the object's own thread.
#include "serial/tcomm.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>

#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include "serial/line_settings.h"
#include "serial/net_port.h"
#include "serial/open_failure.h"
#include "serial/port_address.h"
#include "serial/tcomm_workers.h"
#include "serial/termios2_baud.h"

using serial_detail::CommEvent;
using serial_detail::ConnectSocket;
using serial_detail::kNetworkTimeLimit;
using serial_detail::WaitResponsive;
using serial_detail::CommEventKind;
using serial_detail::CommEventType;
using serial_detail::InstallWakeSignal;
using serial_detail::ReadCounters;
using serial_detail::WakeSignal;

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

TComm::TComm(QObject *parent) : QObject(parent) {
  CommEventType();  // register the event type on the owning thread
}

TComm::~TComm() { ClosePort(); }

bool TComm::IsOpen() const { return fd_ >= 0; }

namespace {

// A local device opened for exclusive use.
int OpenDevice(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;  // before the message's strings are built
    throw ECommsError("Error opening serial port", error, path);
  }
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
  return fd;
}

}  // namespace

std::string ECommsError::Advice() const { return advice_.empty() ? OpenFailureAdvice(error_, device_) : advice_; }

void TComm::OpenPort() {
  if (fd_ >= 0) throw ECommsError("This serial port already opened");
  hangupError_ = 0;
  hungUp_ = false;

  const std::string name = QFile::encodeName(commName_).toStdString();
  std::string malformed;
  const auto address = ParsePortAddress(name, &malformed);
  if (!address) throw ECommsError("Error opening serial port", 0, name, malformed + ".");
  const bool remote = address->kind != PortAddress::Kind::Device;
  const std::string path = remote ? HostAndPort(*address) : CommDevicePath(name);
  const int fd = remote ? ConnectSocket(*address, std::chrono::steady_clock::now() + kNetworkTimeLimit) : OpenDevice(path);

  std::unique_ptr<Workers> workers;
  try {
    workers = std::make_unique<Workers>(this, fd);
  } catch (const std::bad_alloc &) {
    ioctl(fd, TIOCNXCL);
    ::close(fd);
    throw ECommsError("Cannot setup comm buffer");
  }

  fd_ = fd;
  workers_ = std::move(workers);
  Workers &w = *workers_;
  w.socket = remote;
  w.telnet = address->kind == PortAddress::Kind::Rfc2217;
  w.watchModem = static_cast<bool>(OnModemStateChange);
  if (!remote) {
    tcflush(fd_, TCIOFLUSH);
    // Many USB adapters hold received bytes up to 16 ms unless asked not to; a driver that does
    // not know the request keeps its way.
    serial_struct serial{};
    if (ioctl(fd_, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
      serial.flags |= ASYNC_LOW_LATENCY;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
  }
  rs485Refused_ = false;

  ApplyTimeouts();
  if (w.telnet) {
    std::lock_guard<std::mutex> lock(w.telnetMutex);
    w.Queue(w.client.Start());
  }
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

  // The modem watcher (and its signal) only for a program that listens to the modem lines, and
  // only where the driver counts their changes.
  serial_icounter_struct probe{};
  if (OnModemStateChange && !remote && ReadCounters(fd_, &probe) && InstallWakeSignal()) {
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
  if (w.telnet) AwaitLineAcknowledged(*address);
}

void TComm::AwaitLineAcknowledged(const PortAddress &address) {
  Workers &w = *workers_;
  auto state = [&w] {
    std::lock_guard<std::mutex> lock(w.telnetMutex);
    return std::make_pair(w.client.LineAcknowledged(), w.client.ComPortRefused());
  };
  WaitResponsive(std::chrono::steady_clock::now() + kNetworkTimeLimit, [&] {
    const auto [acknowledged, refused] = state();
    return acknowledged || refused || hungUp_;
  });
  const auto [acknowledged, refused] = state();
  if (acknowledged && !hungUp_) return;
  const std::string at = HostAndPort(address);
  const bool closed = hungUp_;
  StopWorkers();
  ReleasePort();
  if (closed)
    throw ECommsError("Error opening serial port", ECONNRESET, at,
                      at + " closed the connection before it acknowledged the line settings: its serial port may be "
                           "in use by another client, or the server could not open it.");
  throw ECommsError("Error opening serial port", EPROTONOSUPPORT, at,
                    refused ? "The server at " + at + " does not offer RFC 2217 COM port control: use tcp://" + at +
                                  " for a raw port."
                            : "The server at " + at + " did not acknowledge the line settings within " +
                                  std::to_string(kNetworkTimeLimit.count() / 1000) +
                                  " s: it does not offer RFC 2217 COM port control (use tcp://" + at +
                                  " for a raw port).");
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
  std::vector<uint8_t> block = w.telnet ? telnet::Escape(data, count) : std::vector<uint8_t>(data, data + count);
  {
    std::lock_guard<std::mutex> lock(w.queueMutex);
    if (!w.writerAccepting) return false;  // the write worker has ended
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
      hangupError_ = static_cast<int>(ce->value);
      hungUp_ = true;
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
}

// Carries the properties onto termios and the modem-control lines. Results are not examined:
// a pseudo-terminal refuses some of them. DSR flow control and sensitivity, XON/XOFF limits,
// TxContinueOnXoff and the parity-error replacement character have no termios counterpart.
void TComm::ApplyLineSettings() {
  if (fd_ < 0 || !workers_) return;
  ++lineSettingsApplied_;
  Workers &w = *workers_;
  w.dropNullBytes.store(ignoreNullChar_);
  if (w.socket) rs485Refused_ = rs485_.rtsOnSend;  // the device server's port switches itself, or not
  if (w.telnet) {
    // The server sets its port; RTS and DTR as the properties hold them.
    telnet::Rfc2217Client::Line line;
    line.baud = baudRate_;
    line.dataBits = static_cast<uint8_t>(5 + static_cast<int>(byteSize_));
    line.parity = static_cast<telnet::rfc2217::Parity>(static_cast<int>(parity_) + 1);
    line.stopBits = stopBits_ == TStopBits::_2 ? telnet::rfc2217::kStopTwo
                    : stopBits_ == TStopBits::_1_5 ? static_cast<telnet::rfc2217::StopSize>(3)
                                                   : telnet::rfc2217::kStopOne;
    line.rts = rtsControl_ == TRtsControl::RtsEnable;
    line.dtr = dtrControl_ == TDtrControl::DtrEnable;
    std::lock_guard<std::mutex> lock(w.telnetMutex);
    w.Queue(w.client.SetLine(line));
    return;
  }
  if (w.socket) return;  // a raw port: the line settings are the device server's own

  termios t{};
  if (tcgetattr(fd_, &t) == 0) {
    LineProperties p;
    p.baudRate = baudRate_;
    p.parityCheck = parityCheck_;
    p.outxCtsFlow = outxCtsFlow_;
    p.rtsControl = rtsControl_;
    p.outxXonXoffFlow = outxXonXoffFlow_;
    p.inxXonXoffFlow = inxXonXoffFlow_;
    p.byteSize = byteSize_;
    p.parity = parity_;
    p.stopBits = stopBits_;
    p.xonChar = xonChar_;
    p.xoffChar = xoffChar_;
    const termios wanted = LineTermios(p, t);
    tcsetattr(fd_, TCSANOW, &wanted);
    if (SpeedConstant(baudRate_) == B0 && baudRate_ != 0) serial_detail::SetArbitraryBaudRate(fd_, baudRate_);
  }

  int line = TIOCM_DTR;
  ioctl(fd_, dtrControl_ == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &line);
  if (rtsControl_ == TRtsControl::RtsEnable || rtsControl_ == TRtsControl::RtsDisable) {
    line = TIOCM_RTS;
    ioctl(fd_, rtsControl_ == TRtsControl::RtsEnable ? TIOCMBIS : TIOCMBIC, &line);
  }

  // RTS raised only while sending is the driver's RS-485 mode.
  const bool wantRs485 = rs485_.rtsOnSend || rtsControl_ == TRtsControl::RtsTransmissionAvailable;
  if (wantRs485 || w.rs485Enabled) {
    serial_rs485 rs485{};
    bool applied = ioctl(fd_, TIOCGRS485, &rs485) == 0;
    if (applied) {
      if (wantRs485) {
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
        rs485.delay_rts_before_send = rs485_.delayBeforeMs;
        rs485.delay_rts_after_send = rs485_.delayAfterMs;
      } else {
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
      }
      applied = ioctl(fd_, TIOCSRS485, &rs485) == 0;
    }
    if (applied) w.rs485Enabled = wantRs485;
    rs485Refused_ = wantRs485 && !applied;
  }
}

void TComm::SetLine(uint32_t baud, TParity parity) {
  baudRate_ = baud;
  parity_ = parity;
  if (IsOpen()) ApplyLineSettings();
}

void TComm::SetRs485(const Rs485Direction &v) {
  if (rs485_ == v) return;
  rs485_ = v;
  if (IsOpen()) ApplyLineSettings();
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
