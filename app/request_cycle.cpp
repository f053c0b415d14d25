// The request cycle and the window's handlers that drive it: the receive handler with its routing
// by the pending-reply code, the parse timer's dispatch, the reply time-out and the close after the
// serial-settings command.
#include "app/request_cycle.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "app/error_display.h"
#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "protocol/hex.h"
#include "ui_main_window.h"

namespace {
constexpr int kParseDelayMs = 300;
constexpr int kFirstTimeoutMs = 1000;
constexpr int kReceivePauseMs = 300;
}  // namespace

RequestCycle::RequestCycle(QObject *window, Handlers handlers)
    : handlers_(std::move(handlers)),
      parse_(window, "Timer2", kParseDelayMs, handlers_.parse),
      timeout_(window, "Timer3", kFirstTimeoutMs, handlers_.timeout),
      exchangeTimer_(new QTimer(window)) {
  exchangeTimer_->setObjectName(QStringLiteral("ExchangeTimer"));
  exchangeTimer_->setSingleShot(true);
  QObject::connect(exchangeTimer_, &QTimer::timeout, window, [this] { EndExchange(ExchangeEnd::TimedOut); });
}

void RequestCycle::Await(Pending::Code awaited, Timeout::Kind report) {
  Expect(awaited, report);
  timeout_.SetInterval(kSettingTimeoutMs);
  timeout_.SetEnabled(true);
}

void RequestCycle::Expect(Pending::Code awaited, Timeout::Kind report) {
  Expect(awaited);
  timeoutKind_ = report;
}

void RequestCycle::Expect(Pending::Code awaited) {
  // A page's request takes the line over from an open exchange: its replies are the page's now.
  if (exchange_.open && awaited != Pending::InstrumentReply) EndExchange(ExchangeEnd::TakenOver);
  pending_ = awaited;
}

bool RequestCycle::Send(Request request) {
  if (!portOpen_ || Waiting()) return false;
  RunHandler([&] { handlers_.send(request); });
  return true;
}

RequestCycle::SendResult RequestCycle::SendFrame(const std::vector<uint8_t> &frame, int timeoutMs, Exchange exchange) {
  if (!portOpen_) return SendResult::PortClosed;
  if (!lostReason_.empty()) return SendResult::LineLost;
  if (Waiting()) return SendResult::LineBusy;
  if (!handlers_.write(frame.data(), frame.size())) return SendResult::NotWritten;
  pending_ = Pending::InstrumentReply;
  exchange_ = {true, std::move(exchange)};
  exchangeTimer_->start(timeoutMs);
  return SendResult::Sent;
}

void RequestCycle::EndExchange(ExchangeEnd how) {
  if (!exchange_.open) return;
  exchangeTimer_->stop();
  // The handler may open the next exchange at once.
  const Exchange ended = std::move(exchange_.handlers);
  exchange_ = {};
  if (pending_ == Pending::InstrumentReply) pending_ = Pending::Nothing;
  if (ended.ended) ended.ended(how);
}

void RequestCycle::DropExchange() {
  if (!exchange_.open) return;
  exchangeTimer_->stop();
  exchange_ = {};
  if (pending_ == Pending::InstrumentReply) pending_ = Pending::Nothing;
}

void RequestCycle::LineLost(std::string why) {
  lostReason_ = std::move(why);
  EndExchange(ExchangeEnd::LineLost);
}

void RequestCycle::SetPortOpen(bool open) {
  if (!open && portOpen_ && beforeClose_) beforeClose_();
  portOpen_ = open;
  lostReason_.clear();
}

RequestCycle::Shown RequestCycle::Deliver(const uint8_t *bytes, size_t count) {
  if (pending_ == Pending::InstrumentReply) {
    // Neither the reply text nor the receive copy change: they are the pages' last delivery.
    if (exchange_.open && exchange_.handlers.whole(bytes, count)) EndExchange(ExchangeEnd::Answered);
    return Shown::NotShown;
  }
  const size_t kept = std::min<size_t>(count, kReplyTextMax);
  replyText_ = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(kept));
  buffer_.HoldReply(bytes, count);

  switch (pending_) {
    case Pending::CommunicationCheck:
    case Pending::SystemParameters:
    case Pending::ModbusParameters:
      parse_.SetEnabled(true);
      timeout_.SetEnabled(false);
      return Shown::AsText;
    case Pending::HartIdentity:
    case Pending::HartDynamicVariables:
      timeout_.SetEnabled(false);
      parse_.SetEnabled(true);
      return Shown::AsHex;
    case Pending::HartManualCommand:
    case Pending::HartPollingAddress:
    case Pending::RtuReply:
      timeout_.SetEnabled(false);
      return Shown::AsHex;
    default:
      timeout_.SetEnabled(false);
      pending_ = Pending::Nothing;
      return Shown::AsText;
  }
}

Pending::Code RequestCycle::TakeParse() {
  parse_.SetEnabled(false);
  const Pending::Code parsed = pending_;
  switch (parsed) {
    case Pending::HartIdentity:
    case Pending::HartDynamicVariables:
      pending_ = Pending::Nothing;
      timeout_.SetEnabled(false);
      return parsed;
    case Pending::CommunicationCheck:
      pending_ = Pending::Nothing;
      timeoutKind_ = Timeout::Silent;
      return parsed;
    case Pending::SystemParameters:  // stay pending: a later delivery is parsed again
    case Pending::ModbusParameters:
      return parsed;
    default:
      return Pending::Nothing;
  }
}

void TForm1::Comm1ReceiveData(TComm *, const uint8_t *buffer, uint16_t bufferLength) {
  traffic_->Record(LineDirection::Received, buffer, bufferLength);
  // The pause serves the pages' replies; the instrument window's chain of exchanges goes on without it.
  if (cycle_.PendingReply() != Pending::InstrumentReply) QThread::msleep(kReceivePauseMs);

  const RequestCycle::Shown shown = cycle_.Deliver(buffer, bufferLength);
  if (shown == RequestCycle::Shown::NotShown) return;
  const QByteArray &text = cycle_.ReplyText();
  if (shown == RequestCycle::Shown::AsHex)
    ui_->Memo10->setPlainText(
        QString::fromStdString(BytesToHexPairs(cycle_.Reply().Data(), static_cast<size_t>(text.size()))));
  else
    ui_->Memo10->setPlainText(QString::fromLatin1(text));
}

void TForm1::SendRequest(RequestCycle::Request request) {
  switch (request) {
    case RequestCycle::Request::DynamicVariables:
      Button16Click();
      break;
  }
}

void TForm1::Timer2Timer() {
  switch (cycle_.TakeParse()) {
    case Pending::HartIdentity:
      ParseIdentityReply();
      break;
    case Pending::CommunicationCheck:
      ParseCommunicationReply();
      break;
    case Pending::HartDynamicVariables:
      ParseDynamicVariableReply();
      break;
    case Pending::SystemParameters:
      ParseSystemParameterReply();
      break;
    case Pending::ModbusParameters:
      ParseModbusParameterReply();
      break;
    default:
      break;
  }
}

void TForm1::Timer3Timer() {
  cycle_.DisarmTimeout();
  switch (cycle_.TimeoutKind()) {
    case Timeout::Connection:
      ShowMessage(QStringLiteral("Connection timeout!"));
      break;
    case Timeout::Query:
      ui_->Label68->clear();
      ShowMessage(QStringLiteral("Parameter query timeout!"));
      break;
    case Timeout::Setting:
      ui_->Label68->setText(QStringLiteral("Set timeout!"));
      ShowMessage(QStringLiteral("!"));
      break;
    default:
      break;
  }
  cycle_.DisarmTimeout();
}

void TForm1::Timer4Timer() {
  Timer4.SetEnabled(false);
  cycle_.SetPortOpen(false);
  ui_->Button1->setText(QStringLiteral("Open"));
  ui_->Button6->setEnabled(false);
  comm1_->ClosePort();
}

void TForm1::Button26Click() { ui_->Memo10->clear(); }
