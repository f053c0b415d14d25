// The request cycle and the window's handlers that drive it: the receive handler with its routing
// by the pending-reply code, the parse timer's dispatch, the reply time-out and the close after the
// serial-settings command.
#include "app/request_cycle.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>

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
      timeout_(window, "Timer3", kFirstTimeoutMs, handlers_.timeout) {}

void RequestCycle::Await(Pending::Code awaited, Timeout::Kind report) {
  Expect(awaited, report);
  timeout_.SetInterval(kSettingTimeoutMs);
  timeout_.SetEnabled(true);
}

void RequestCycle::Expect(Pending::Code awaited, Timeout::Kind report) {
  pending_ = awaited;
  timeoutKind_ = report;
}

void RequestCycle::Expect(Pending::Code awaited) { pending_ = awaited; }

bool RequestCycle::Send(Request request) {
  if (!portOpen_ || Waiting()) return false;
  RunHandler([&] { handlers_.send(request); });
  return true;
}

RequestCycle::Shown RequestCycle::Deliver(const uint8_t *bytes, size_t count) {
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
  QThread::msleep(kReceivePauseMs);

  const RequestCycle::Shown shown = cycle_.Deliver(buffer, bufferLength);
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
