#include "instrument/hart_link.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "protocol/frame_end.h"

namespace {

constexpr int kLineWaitStepMs = 50;
constexpr size_t kMostReplyBytes = 1024;  // far beyond the longest HART reply with noise before it

}  // namespace

HartLink::HartLink(RequestCycle &cycle, QObject *parent) : QObject(parent), cycle_(cycle), retry_(new QTimer(this)) {
  retry_->setSingleShot(true);
  connect(retry_, &QTimer::timeout, this, [this] { Send(); });
}

HartLink::~HartLink() {
  if (onLine_) cycle_.DropExchange();
}

void HartLink::Ask(std::vector<uint8_t> frame, std::string what, Answered answered, Failed failed) {
  queue_.push_back({std::move(frame), std::move(what), std::move(answered), std::move(failed), nullptr});
  if (!onLine_ && !waiting_) Next();
}

void HartLink::Then(std::function<void()> step) {
  queue_.push_back({{}, {}, nullptr, nullptr, std::move(step)});
  if (!onLine_ && !waiting_) Next();
}

void HartLink::DropQueued() {
  queue_.clear();
  if (waiting_) {  // not on the line yet: nothing of it went out
    retry_->stop();
    waiting_ = false;
    if (onIdle) onIdle();
  }
}

bool HartLink::WaitUntilIdle(int limitMs) {
  if (Idle()) return true;
  QEventLoop loop;
  QTimer poll;
  QTimer limit;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (Idle()) loop.quit();
  });
  limit.setSingleShot(true);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start(10);
  limit.start(limitMs);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  return Idle();
}

void HartLink::Next() {
  while (!queue_.empty()) {
    Step step = std::move(queue_.front());
    queue_.pop_front();
    if (step.frame.empty()) {
      if (step.then) step.then();
      if (onLine_ || waiting_) return;  // the step asked for more, which is under way
      continue;
    }
    current_ = std::move(step);
    attempts_ = 0;
    lineWaitedMs_ = 0;
    Send();
    return;
  }
  if (onIdle) onIdle();
}

void HartLink::Send() {
  waiting_ = false;
  reply_.clear();
  RequestCycle::Exchange exchange{[this](const uint8_t *bytes, size_t count) { return TakeDelivery(bytes, count); },
                                  [this](RequestCycle::ExchangeEnd how) { Ended(how); }};
  switch (cycle_.SendFrame(current_.frame, kReplyTimeoutMs, std::move(exchange))) {
    case RequestCycle::SendResult::Sent:
      onLine_ = true;
      return;
    case RequestCycle::SendResult::LineBusy:
      if (lineWaitedMs_ >= kLineWaitMs)
        return Stop("the line stayed busy with another request; " + current_.what + " was not sent");
      lineWaitedMs_ += kLineWaitStepMs;
      waiting_ = true;
      retry_->start(kLineWaitStepMs);
      return;
    case RequestCycle::SendResult::PortClosed:
      return Stop("the port is closed; " + current_.what + " was not sent");
    case RequestCycle::SendResult::LineLost:
      return Stop("the port went away: " + cycle_.LostReason() + "; " + current_.what + " was not sent");
    case RequestCycle::SendResult::NotWritten:
      return Stop("the port is gone; " + current_.what + " could not be sent");
  }
}

bool HartLink::TakeDelivery(const uint8_t *bytes, size_t count) {
  const size_t room = kMostReplyBytes - reply_.size();
  reply_.insert(reply_.end(), bytes, bytes + std::min(count, room));
  // A reply is whole once its byte count's data and checksum are in and the checksum holds; more
  // than any reply holds is checked as it stands.
  return HartReplyEnd(reply_.data(), reply_.size()) > 0 || reply_.size() >= kMostReplyBytes;
}

void HartLink::Ended(RequestCycle::ExchangeEnd how) {
  onLine_ = false;
  switch (how) {
    case RequestCycle::ExchangeEnd::TakenOver:
      return Stop("a request of the main window took the line over; " + current_.what + " has no answer");
    case RequestCycle::ExchangeEnd::LineLost:
      return Stop("the port went away: " + cycle_.LostReason() + "; " + current_.what + " has no answer");
    case RequestCycle::ExchangeEnd::TimedOut:
      if (reply_.empty())
        return Stop("no answer to " + current_.what + " within " + std::to_string(kReplyTimeoutMs / 1000) + " s");
      break;  // what came is checked: it says what is wrong with it
    case RequestCycle::ExchangeEnd::Answered:
      break;
  }
  const HartAnswer answer = CheckHartAnswer(current_.frame, reply_.data(), reply_.size());
  if (answer.verdict == HartVerdict::NotAnAnswer)
    return Stop("the reply to " + current_.what + " does not check out: " + answer.problem);
  if (answer.verdict != HartVerdict::CommunicationError && onDeviceStatus) onDeviceStatus(answer.deviceStatus);
  if (answer.verdict == HartVerdict::Busy && attempts_ < kBusyRetries) {
    ++attempts_;
    waiting_ = true;
    retry_->start(kBusyPauseMs);
    return;
  }
  // The handler may ask for more at once, which takes the line and the reply buffer.
  const Step done = std::move(current_);
  current_ = {};
  const std::vector<uint8_t> reply = std::move(reply_);
  reply_.clear();
  if (done.answered) done.answered(answer, reply);
  if (!onLine_ && !waiting_) Next();
}

void HartLink::Stop(const std::string &why) {
  waiting_ = false;
  onLine_ = false;
  queue_.clear();
  const Step failed = std::move(current_);
  current_ = {};
  if (failed.failed) failed.failed(why);
  if (onStopped) onStopped(why);
  if (!onLine_ && !waiting_ && queue_.empty() && onIdle) onIdle();
}
