// HartLink: the instrument window's HART requests, one at a time, through the window's request
// cycle. A request waits for its turn (no other request waiting), its reply is taken whole and
// checked against the request before anything in it is believed, and "busy" is asked again twice.
// A request without a usable reply (none in time, one that does not check out, the line taken over
// by a page, the port closed or gone) stops the chain: what was queued behind it is dropped.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/request_cycle.h"
#include "protocol/hart_answer.h"

class QTimer;

class HartLink : public QObject {
 public:
  static constexpr int kReplyTimeoutMs = 2000;
  static constexpr int kBusyRetries = 2;
  static constexpr int kBusyPauseMs = 250;
  static constexpr int kLineWaitMs = 4000;  // for a page's request to be answered and parsed

  // A reply that checked out (data, a refusal, busy after the retries, a communication error),
  // and the bytes it came in: the frame is at answer.start.
  using Answered = std::function<void(const HartAnswer &answer, const std::vector<uint8_t> &reply)>;
  // Why the request got no usable reply ("no answer to command 13 within 2 s").
  using Failed = std::function<void(const std::string &why)>;

  HartLink(RequestCycle &cycle, QObject *parent);
  ~HartLink() override;

  // Queues `frame`; `what` names it in messages ("command 13 (read tag, descriptor, date)").
  void Ask(std::vector<uint8_t> frame, std::string what, Answered answered, Failed failed = nullptr);
  // Queues a step without a frame, run in its turn: the end of a chain.
  void Then(std::function<void()> step);
  // Drops what was not sent yet; a request on the line still gets its reply or time-out.
  void DropQueued();
  bool Idle() const { return !onLine_ && !waiting_ && queue_.empty(); }
  // Runs the event loop (user input held back) until the link is idle or `limitMs` have passed.
  bool WaitUntilIdle(int limitMs);

  std::function<void(const std::string &why)> onStopped;  // a chain stopped: the reason
  std::function<void(uint8_t deviceStatus)> onDeviceStatus;  // of every reply that checked out
  std::function<void()> onIdle;  // nothing more to send

 private:
  struct Step {
    std::vector<uint8_t> frame;  // empty: `then` alone
    std::string what;
    Answered answered;
    Failed failed;
    std::function<void()> then;
  };
  void Next();
  void Send();
  bool TakeDelivery(const uint8_t *bytes, size_t count);
  void Ended(RequestCycle::ExchangeEnd how);
  void Stop(const std::string &why);

  RequestCycle &cycle_;
  std::deque<Step> queue_;
  Step current_;
  bool onLine_ = false;   // current_ was sent and its exchange is open
  bool waiting_ = false;  // current_ waits for the line, or for a busy instrument's pause
  int attempts_ = 0;
  int lineWaitedMs_ = 0;
  std::vector<uint8_t> reply_;
  QTimer *retry_;
};
