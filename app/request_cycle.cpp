// The request cycle every page shares: awaiting a reply, the receive handler with its routing by
// the pending-reply code, the parse timer's dispatch, the reply time-out and the close after the
// serial-settings command.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>

#include <algorithm>

#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "protocol/hex.h"
#include "ui_main_window.h"

void TForm1::Await(Pending::Code awaited, Timeout::Kind report) {
  PendingReply = awaited;
  TimeoutKind = report;
  Timer3.SetInterval(kSettingTimeoutMs);
  Timer3.SetEnabled(true);
}

void TForm1::Comm1ReceiveData(TComm *, const uint8_t *buffer, uint16_t bufferLength) {
  traffic_->Record(LineDirection::Received, buffer, bufferLength);
  QThread::msleep(kReceivePauseMs);

  // The working copy and the receive area keep what fits; nothing is written past them.
  const int length = std::min<int>(bufferLength, kWorkingCopySize);
  std::copy(buffer, buffer + length, workingCopy_);
  ReplyText.clear();
  ReplyText.append(reinterpret_cast<const char *>(workingCopy_), std::min(length, kReplyTextMax));
  ReplyHeld = std::min(length, kReplyRoom);
  std::copy(workingCopy_, workingCopy_ + ReplyHeld, CommBuffer + kReplyStart);

  const QString asText = QString::fromLatin1(ReplyText);
  auto asHex = [this] {
    return QString::fromStdString(BytesToHexPairs(CommBuffer + kReplyStart, static_cast<size_t>(ReplyText.size())));
  };

  switch (PendingReply) {
    case Pending::CommunicationCheck:
    case Pending::SystemParameters:
    case Pending::ModbusParameters:
      Timer2.SetEnabled(true);
      ui_->Memo10->setPlainText(asText);
      Timer3.SetEnabled(false);
      break;
    case Pending::HartIdentity:
    case Pending::HartDynamicVariables:
      ui_->Memo10->setPlainText(asHex());
      Timer3.SetEnabled(false);
      Timer2.SetEnabled(true);
      break;
    case Pending::HartManualCommand:
    case Pending::HartPollingAddress:
    case Pending::RtuReply:
      ui_->Memo10->setPlainText(asHex());
      Timer3.SetEnabled(false);
      break;
    default:
      ui_->Memo10->setPlainText(asText);
      Timer3.SetEnabled(false);
      PendingReply = Pending::Nothing;
      break;
  }
}

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  switch (PendingReply) {
    case Pending::HartIdentity:
      PendingReply = Pending::Nothing;
      Timer3.SetEnabled(false);
      ParseIdentityReply();
      break;
    case Pending::CommunicationCheck:
      PendingReply = Pending::Nothing;
      TimeoutKind = Timeout::Silent;
      ParseCommunicationReply();
      break;
    case Pending::HartDynamicVariables:
      PendingReply = Pending::Nothing;
      Timer3.SetEnabled(false);
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
  Timer3.SetEnabled(false);
  switch (TimeoutKind) {
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
  Timer3.SetEnabled(false);
}

void TForm1::Timer4Timer() {
  Timer4.SetEnabled(false);
  PortOpen = 0;
  ui_->Button1->setText(QStringLiteral("Open"));
  ui_->Button6->setEnabled(false);
  comm1_->ClosePort();
}

void TForm1::Button26Click() { ui_->Memo10->clear(); }
