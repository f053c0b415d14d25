// One module on one serial line, for rq735ctl: the port opened with TComm, and exchanges of one
// request and its reply. A reply is what one delivery holds: TComm ends a delivery at 100 ms of
// line silence, so no fixed wait is needed. Must be used on a thread that owns it; the waits run
// that thread's event loop.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/line_decoder.h"
#include "serial/line_settings.h"

class QEventLoop;
class TComm;

struct LineOptions {
  QString port;
  uint32_t baud = 9600;
  TParity parity = TParity::None;
  std::chrono::milliseconds timeout{1000};  // for a reply to come
};

class ModuleLine {
 public:
  // `trace`, when set, gets a line for every frame sent and received.
  ModuleLine(LineOptions options, std::function<void(const std::string &)> trace);
  ~ModuleLine();

  // Throws ECommsError when the port does not open.
  void Open();
  void Close();
  // Opens again with other line settings (after the module's RS485 line was changed).
  void Reopen(uint32_t baud, TParity parity);

  // Writes the request and waits for the reply; nothing when none comes within the time-out, or
  // when the line was lost.
  std::optional<std::vector<uint8_t>> Exchange(const std::string &request);
  std::optional<std::vector<uint8_t>> Exchange(const std::vector<uint8_t> &request);
  // Writes without waiting for an answer.
  void Send(const std::vector<uint8_t> &request);

  bool Lost() const { return lost_; }  // the port went away (a hang-up)
  std::string LostReason() const;      // why, in words: "the adapter was unplugged (EIO)"
  const LineOptions &Options() const { return options_; }

 private:
  void Trace(LineDirection direction, const uint8_t *bytes, size_t count);

  LineOptions options_;
  std::function<void(const std::string &)> trace_;
  std::unique_ptr<TComm> comm_;
  std::vector<std::vector<uint8_t>> deliveries_;
  bool lost_ = false;
  int lostError_ = 0;  // the errno that ended the port
  QEventLoop *waiting_ = nullptr;  // the wait of an exchange in progress
  std::chrono::steady_clock::time_point started_;
};
