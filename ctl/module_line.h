// One module on one serial line, for rq735ctl: the port opened with TComm, and exchanges of one
// request and its reply. TComm hands over every read as it comes; the exchange gathers the bytes
// and ends as soon as the reply's frame says it is whole, or where its end cannot be known from
// its bytes (the module's query replies), at 100 ms of line silence. Must be used on a thread that
// owns it; the waits run that thread's event loop.
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
#include "serial/tcomm.h"

class QEventLoop;

struct LineOptions {
  QString port;
  uint32_t baud = 9600;
  TParity parity = TParity::None;
  std::chrono::milliseconds timeout{1000};  // for a reply to come
  bool rts = false;  // held on, for converters powered or steered by it
  bool dtr = false;
  Rs485Direction rs485;  // the driver's direction switching, for adapters that need it
};

class ModuleLine {
 public:
  // `trace`, when set, gets a line for every frame sent and received.
  ModuleLine(LineOptions options, std::function<void(const std::string &)> trace);
  ~ModuleLine();

  // Throws ECommsError when the port does not open.
  void Open();
  void Close();
  // Opens again with other line settings (after the module's RS485 line was changed); an rfc2217://
  // port stays open and has its server's line set.
  void Reopen(uint32_t baud, TParity parity);

  // How a reply shows that it is whole: the length of the bytes through its end, 0 while more
  // must come (protocol/frame_end.h). None: the line's silence ends it.
  using ReplyEnd = size_t (*)(const uint8_t *bytes, size_t count);
  static constexpr std::chrono::milliseconds kSilence{100};

  // Drops what came after the last reply, writes the request and waits for its reply; nothing
  // when none begins within the time-out, or when the line was lost before one came. Bytes that
  // arrive after a whole reply are not part of it; the next exchange drops them (the trace shows them).
  std::optional<std::vector<uint8_t>> Exchange(const std::string &request, ReplyEnd end = nullptr);
  std::optional<std::vector<uint8_t>> Exchange(const std::vector<uint8_t> &request, ReplyEnd end = nullptr);
  // Writes without waiting for an answer.
  void Send(const std::vector<uint8_t> &request);
  // Waits `time` between exchanges, minding the line: ends early when it is lost.
  void Idle(std::chrono::milliseconds time);

  bool Lost() const { return lost_; }  // the port went away (a hang-up)
  // The driver refused the RS485 mode asked for; the line goes on without it.
  bool Rs485Refused() const { return comm_ && comm_->Rs485Refused(); }
  std::string LostReason() const;      // why, in words: "the adapter was unplugged (EIO)"
  const LineOptions &Options() const { return options_; }

 private:
  void Trace(LineDirection direction, const uint8_t *bytes, size_t count);
  void Dropped(const std::vector<uint8_t> &bytes);
  void DropLateBytes();

  LineOptions options_;
  std::function<void(const std::string &)> trace_;
  std::unique_ptr<TComm> comm_;
  std::vector<uint8_t> arrived_;  // received and not yet taken by an exchange
  bool lost_ = false;
  int lostError_ = 0;  // the errno that ended the port
  QEventLoop *waiting_ = nullptr;  // the wait of an exchange in progress
  std::chrono::steady_clock::time_point started_;
};
