// The request cycle every page shares: one request at a time, the reply it awaits, the report a
// time-out gives, the last delivery, the parse timer Timer2 and the time-out timer Timer3. There
// is no queue and no check for a request in flight: a new request replaces the pending code, and
// whatever arrives is routed by the code pending at that moment. Owned by the window; the timers
// are its children.
//
// Beside the pages, the instrument window sends frames of its own (SendFrame): each goes out only
// when no other request waits, and its replies go to it alone, under Pending::InstrumentReply.
#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/comm_buffer.h"
#include "app/request_codes.h"
#include "app/ttimer.h"
#include "protocol/config_frame.h"

class QObject;
class QTimer;

class RequestCycle {
 public:
  static constexpr int kSettingTimeoutMs = 3000;

  // What callers beside the window's pages may send through the cycle.
  enum class Request {
    DynamicVariables,  // HART command 3 to the stored identity, as "HART Command Query" sends it
  };

  struct Handlers {
    std::function<void()> parse;        // Timer2 fired
    std::function<void()> timeout;      // Timer3 fired
    std::function<void(Request)> send;  // runs the handler that sends the request
    std::function<bool(const uint8_t *, size_t)> write;  // writes a frame to the line; false when it cannot
  };
  RequestCycle(QObject *window, Handlers handlers);

  Pending::Code PendingReply() const { return pending_; }
  Timeout::Kind TimeoutKind() const { return timeoutKind_; }
  // The last delivery, one character per byte, at most kReplyTextMax.
  const QByteArray &ReplyText() const { return replyText_; }
  ReplyView Reply() const { return buffer_.Reply(); }
  TransmitView Transmit() { return buffer_.Transmit(); }
  // The user has opened the port.
  bool PortOpen() const { return portOpen_; }
  // A reply is awaited (the time-out runs, or an exchange of SendFrame is open) or its parse is due.
  bool Waiting() const { return timeout_.Enabled() || parse_.Enabled() || exchange_.open; }

  // A request went out: its reply is routed by `awaited` and its time-out reports `report`.
  // Await arms the time-out at 3000 ms; Expect sets the codes alone, or only the pending code
  // (the report in force stays).
  void Await(Pending::Code awaited, Timeout::Kind report);
  void Expect(Pending::Code awaited, Timeout::Kind report);
  void Expect(Pending::Code awaited);
  // Arms the time-out with the interval it last had: 1000 ms until anything set 3000 ms.
  void ArmTimeout() { timeout_.SetEnabled(true); }

  // Sends `request` when the port is open and no request waits; its handler runs through the
  // general error display. False when it did not run.
  bool Send(Request request);

  // An exchange of the instrument window. Each delivery while it is open goes to `whole` alone
  // (not to the pages' parsers, not to "Receive Buffer:"), which says whether the reply is all in.
  // `ended` runs once the exchange has closed (so it may send the next frame): answered, no whole
  // reply within the time, a page's request took the line over (its codes replaced the pending one),
  // or the port was lost.
  enum class ExchangeEnd { Answered, TimedOut, TakenOver, LineLost };
  struct Exchange {
    std::function<bool(const uint8_t *bytes, size_t count)> whole;
    std::function<void(ExchangeEnd)> ended;
  };
  enum class SendResult { Sent, LineBusy, PortClosed, LineLost, NotWritten };
  // Writes `frame` when the port is open and no request waits, and opens its exchange.
  SendResult SendFrame(const std::vector<uint8_t> &frame, int timeoutMs, Exchange exchange);
  // The port's workers gave up (an adapter unplugged, a device server gone): an open exchange ends
  // at once, and SendFrame sends nothing more until the port is opened again. The pages' requests
  // are left as they are: theirs time out.
  void LineLost(std::string why);
  // Why the open port carries nothing any more; empty while it does.
  const std::string &LostReason() const { return lostReason_; }
  // Closes an open exchange without running its handlers: their owner is going away.
  void DropExchange();
  // Runs just before the port closes (the user's "Close", the close after the serial settings, the
  // window's end), while a last frame can still go out and be answered.
  void SetBeforeClose(std::function<void()> beforeClose) { beforeClose_ = std::move(beforeClose); }

 private:
  friend class TForm1;  // the window's receive, timer and port handlers drive the rest

  enum class Shown { AsText, AsHex, NotShown };
  // A delivery: kept as the reply text and in the receive copy, then routed by the pending code
  // (the parse armed, the time-out disarmed, a text-only reply ends the wait). Says how
  // "Receive Buffer:" shows it.
  Shown Deliver(const uint8_t *bytes, size_t count);
  // Timer2 fired: it is disarmed and the codes change as the parse dispatch says. The code whose
  // parser runs now, or Nothing.
  Pending::Code TakeParse();
  void DisarmTimeout() { timeout_.SetEnabled(false); }
  void Disarm() {  // neither a parse nor a time-out is due
    parse_.SetEnabled(false);
    timeout_.SetEnabled(false);
  }
  void SetPortOpen(bool open);
  void EndExchange(ExchangeEnd how);
  uint8_t *Scratch() { return buffer_.Scratch(); }

  Handlers handlers_;
  CommBuffer buffer_;
  Pending::Code pending_ = Pending::Nothing;
  Timeout::Kind timeoutKind_ = Timeout::Silent;
  QByteArray replyText_;
  bool portOpen_ = false;
  TTimer parse_;    // Timer2, 300 ms
  TTimer timeout_;  // Timer3, 1000 ms until a request sets 3000 ms
  struct OpenExchange {
    bool open = false;
    Exchange handlers;
  } exchange_;
  QTimer *exchangeTimer_;  // the open exchange's time limit
  std::function<void()> beforeClose_;
  std::string lostReason_;
};
