// TComm: one serial port, opened non-blocking, with a read worker and a write worker.
//
// The workers never touch program state: they post events to the TComm object, which lives on
// the thread that constructed it (the window thread) and raises the callbacks there, in posting
// order. WriteData never blocks; it hands a copy of the bytes to the write worker's queue.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "serial/line_settings.h"

// A failure of OpenPort: its message, and the system's error number and the device it concerns
// (0 and empty where no system call failed). Advice() says what to do about it.
class ECommsError : public std::runtime_error {
 public:
  explicit ECommsError(const std::string &message, int error = 0, std::string device = {}, std::string advice = {})
      : std::runtime_error(message), error_(error), device_(std::move(device)), advice_(std::move(advice)) {}
  int Error() const { return error_; }
  const std::string &Device() const { return device_; }
  // The advice given where the failure was met (a device server's), or else OpenFailureAdvice's.
  std::string Advice() const;

 private:
  int error_;
  std::string device_;
  std::string advice_;
};

class TComm;
struct PortAddress;

using TReceiveDataEvent = std::function<void(TComm *sender, const uint8_t *buffer, uint16_t length)>;
using TReceiveErrorEvent = std::function<void(TComm *sender, uint32_t eventMask)>;
using TModemStateChangeEvent = std::function<void(TComm *sender, uint32_t modemEvent)>;
using TNotifyEvent = std::function<void(TComm *sender)>;

// Line-error flags passed to OnReceiveError.
enum : uint32_t {
  CE_RXOVER = 0x0001,
  CE_OVERRUN = 0x0002,
  CE_RXPARITY = 0x0004,
  CE_FRAME = 0x0008,
  CE_BREAK = 0x0010,
};

// Modem bits passed to OnModemStateChange.
enum : uint32_t {
  ME_RING = 4,
  ME_CARRIER = 8,
};

// Maps a port name to the device path it opens: "COMn" is /dev/ttyS(n-1), a text starting with
// "/" is used as it stands, anything else is a name under /dev/. The URLs "tcp://HOST:PORT" and
// "rfc2217://HOST:PORT" name ports behind device servers (serial/port_address.h): raw bytes, and
// telnet with the server's serial line set by RFC 2217. The line settings of a tcp:// port are the
// server's own.
std::string CommDevicePath(const std::string &commName);

class TComm : public QObject {
  Q_OBJECT

 public:
  static constexpr int kReadBufferSize = 2048;
  // A ReadIntervalTimeout that waits for no silence: every read is delivered as it comes.
  static constexpr uint32_t kNoIntervalWait = 0xFFFFFFFF;

  explicit TComm(QObject *parent = nullptr);
  ~TComm() override;  // closes a port that is still open; no worker outlives the object

  void OpenPort();   // throws ECommsError
  void ClosePort();  // does nothing when closed
  bool WriteData(const uint8_t *data, uint16_t count);
  bool IsOpen() const;

  // Properties. CommName and Parity are stored only; every other setter does nothing when the
  // value is unchanged, and otherwise re-applies the line settings (or the time-outs) when open.
  QString CommName() const { return commName_; }
  void SetCommName(const QString &v) { commName_ = v; }
  uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(uint32_t v);
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool v);
  bool Outx_CtsFlow() const { return outxCtsFlow_; }
  void SetOutx_CtsFlow(bool v);
  bool Outx_DsrFlow() const { return outxDsrFlow_; }
  void SetOutx_DsrFlow(bool v);
  TDtrControl DtrControl() const { return dtrControl_; }
  void SetDtrControl(TDtrControl v);
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool v);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool v);
  bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool v);
  bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
  void SetInx_XonXoffFlow(bool v);
  bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
  void SetReplaceWhenParityError(bool v);
  bool IgnoreNullChar() const { return ignoreNullChar_; }
  void SetIgnoreNullChar(bool v);
  TRtsControl RtsControl() const { return rtsControl_; }
  void SetRtsControl(TRtsControl v);
  uint16_t XonLimit() const { return xonLimit_; }
  void SetXonLimit(uint16_t v);
  uint16_t XoffLimit() const { return xoffLimit_; }
  void SetXoffLimit(uint16_t v);
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize v);
  TParity Parity() const { return parity_; }
  void SetParity(TParity v) { parity_ = v; }
  // Baud rate and parity together, applied at once to an open port (Parity alone waits for the
  // next opening).
  void SetLine(uint32_t baud, TParity parity);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits v);
  char XonChar() const { return xonChar_; }
  void SetXonChar(char v);
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char v);
  char ReplacedChar() const { return replacedChar_; }
  void SetReplacedChar(char v);
  Rs485Direction Rs485() const { return rs485_; }
  void SetRs485(const Rs485Direction &v);
  // The driver refused the RS485 mode asked for (a pseudo-terminal, a device server, an adapter
  // without it): the port goes on as without it.
  bool Rs485Refused() const { return rs485Refused_; }
  uint32_t ReadIntervalTimeout() const { return readIntervalTimeout_; }
  void SetReadIntervalTimeout(uint32_t v);
  uint32_t ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
  void SetReadTotalTimeoutMultiplier(uint32_t v);
  uint32_t ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
  void SetReadTotalTimeoutConstant(uint32_t v);
  uint32_t WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
  void SetWriteTotalTimeoutMultiplier(uint32_t v);
  uint32_t WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }
  void SetWriteTotalTimeoutConstant(uint32_t v);

  // Events, raised on the thread that owns this object, only when assigned.
  TReceiveDataEvent OnReceiveData;
  TReceiveErrorEvent OnReceiveError;
  TModemStateChangeEvent OnModemStateChange;  // watched only for an opening made while it is set
  TNotifyEvent OnRequestHangup;
  // The errno that ended the opening, once OnRequestHangup has been raised: 0 where the device
  // ended without one (end of file, a hang-up).
  int HangupError() const { return hangupError_; }
  TNotifyEvent OnSendDataEmpty;

  // How many times the line settings / the time-outs were applied to an open port (for tests).
  int LineSettingsApplied() const { return lineSettingsApplied_; }
  int TimeoutsApplied() const { return timeoutsApplied_; }

 protected:
  bool event(QEvent *e) override;

 private:
  void ApplyLineSettings();
  void ApplyTimeouts();
  void StopWorkers();
  void ReleasePort();  // closes the descriptors of an opening whose workers have ended
  // An RFC 2217 port is open once its server acknowledged the line settings; throws ECommsError.
  void AwaitLineAcknowledged(const PortAddress &address);

  struct Workers;  // threads, close event and the write queue
  std::unique_ptr<Workers> workers_;
  int fd_ = -1;

  QString commName_ = QStringLiteral("COM2");
  uint32_t baudRate_ = 9600;
  bool parityCheck_ = false;
  bool outxCtsFlow_ = false;
  bool outxDsrFlow_ = false;
  TDtrControl dtrControl_ = TDtrControl::DtrEnable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = true;
  bool outxXonXoffFlow_ = true;
  bool inxXonXoffFlow_ = true;
  bool replaceWhenParityError_ = false;
  bool ignoreNullChar_ = false;
  TRtsControl rtsControl_ = TRtsControl::RtsEnable;
  uint16_t xonLimit_ = 500;
  uint16_t xoffLimit_ = 500;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  char xonChar_ = 17;
  char xoffChar_ = 19;
  char replacedChar_ = 0;
  uint32_t readIntervalTimeout_ = 100;
  uint32_t readTotalTimeoutMultiplier_ = 0;
  uint32_t readTotalTimeoutConstant_ = 0;
  uint32_t writeTotalTimeoutMultiplier_ = 0;
  uint32_t writeTotalTimeoutConstant_ = 0;

  Rs485Direction rs485_;
  bool rs485Refused_ = false;
  int hangupError_ = 0;
  bool hungUp_ = false;
  int lineSettingsApplied_ = 0;
  int timeoutsApplied_ = 0;
};
