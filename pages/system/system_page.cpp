// Handlers of the "System Parameters" page: the module's settings and queries, the totalizer,
// cut-off, LSD and coefficient factory commands, the board data, and the key filters of the
// number boxes.
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

#include "app/frame_writer.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "protocol/int_text.h"
#include "protocol/key_filter.h"
#include "protocol/module_frames.h"
#include "protocol/system_reply.h"
#include "ui_main_window.h"

namespace {

const KeyRule kSignedDecimal6{"0123456789.-", 6};
const KeyRule kSignedDecimal5{"0123456789.-", 5};
const KeyRule kDecimal5{"0123456789.", 5};
const KeyRule kDigits8{"0123456789", 8};
const KeyRule kDigits3{"0123456789", 3};
const KeyRule kDigits4{"0123456789", 4};

void FilterKey(const KeyRule &rule, const QLineEdit *box, char &key) {
  if (!KeyAccepted(rule, key, static_cast<int>(box->text().size()))) key = 0;
}

}  // namespace

void TForm1::ConnectSystemPage() {
  Bind(ui_->Button6, &QPushButton::clicked, &TForm1::Button6Click);
  Bind(ui_->Button23, &QPushButton::clicked, &TForm1::Button23Click);
  Bind(ui_->Button29, &QPushButton::clicked, &TForm1::Button29Click);
  Bind(ui_->Button24, &QPushButton::clicked, &TForm1::Button24Click);
  Bind(ui_->Button15, &QPushButton::clicked, &TForm1::Button15Click);
  Bind(ui_->Button27, &QPushButton::clicked, &TForm1::Button27Click);
  Bind(ui_->Button9, &QPushButton::clicked, &TForm1::Button9Click);
  Bind(ui_->Button30, &QPushButton::clicked, &TForm1::Button30Click);
  Bind(ui_->Edit14, &QLineEdit::textChanged, &TForm1::Edit14Change);
  Bind(ui_->AD1SET, &QPushButton::clicked, &TForm1::AD1SETClick);
  Bind(ui_->Button5, &QPushButton::clicked, &TForm1::Button5Click);
  Bind(ui_->PButton52, &QPushButton::clicked, &TForm1::PButton52Click);
  Bind(ui_->Button3, &QPushButton::clicked, &TForm1::Button3Click);
  Bind(ui_->Button11, &QPushButton::clicked, &TForm1::Button11Click);
  Bind(ui_->Button60, &QPushButton::clicked, &TForm1::Button60Click);
  Bind(ui_->Button8, &QPushButton::clicked, &TForm1::Button8Click);
  for (QLineEdit *box : {ui_->AD1H, ui_->AD1L, ui_->AD1LD, ui_->Edit2, ui_->PUSET3, ui_->PUSET1XIAO, ui_->Edit3})
    box->installEventFilter(this);
}

// Typed text reaches the seven number boxes only through their filters: key presses and text
// committed by an input method. Keys that type nothing printable (Tab, Delete, Return, Escape,
// arrows, shortcuts) keep their normal meaning; Backspace always passes.
bool TForm1::SystemPageFilterTyping(QObject *watched, QEvent *event) {
  using KeyHandler = void (TForm1::*)(char &);
  static const std::pair<const char *, KeyHandler> kFilters[] = {
      {"AD1H", &TForm1::AD1HKeyPress},     {"AD1L", &TForm1::AD1LKeyPress},
      {"AD1LD", &TForm1::AD1LDKeyPress},   {"Edit2", &TForm1::Edit2KeyPress},
      {"PUSET3", &TForm1::PUSET3KeyPress}, {"PUSET1XIAO", &TForm1::PUSET1XIAOKeyPress},
      {"Edit3", &TForm1::Edit3KeyPress},
  };
  auto *box = qobject_cast<QLineEdit *>(watched);
  if (box == nullptr) return false;
  const auto filter = std::find_if(std::begin(kFilters), std::end(kFilters),
                                   [&](const auto &f) { return box->objectName() == QLatin1String(f.first); });
  if (filter == std::end(kFilters)) return false;

  QString typed;
  if (event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Backspace) return false;
    typed = key->text();
  } else if (event->type() == QEvent::InputMethod) {
    typed = static_cast<QInputMethodEvent *>(event)->commitString();
  } else {
    return false;
  }
  if (std::none_of(typed.begin(), typed.end(), [](QChar c) { return c.isPrint(); })) return false;

  // One character as the box takes it natively; several (a compose sequence, an input-method
  // commit) one at a time, so that each is filtered against the text as it grows.
  auto takes = [&](QChar ch) {
    if (!ch.isPrint() || ch.unicode() >= 128) return false;
    char key = static_cast<char>(ch.unicode());
    (this->*(filter->second))(key);
    return key != '\0';
  };
  if (typed.size() == 1 && event->type() == QEvent::KeyPress) return !takes(typed.front());
  for (QChar ch : typed)
    if (takes(ch)) box->insert(QString(ch));
  if (event->type() == QEvent::InputMethod) {
    auto *im = static_cast<QInputMethodEvent *>(event);
    im->setCommitString(QString());  // committed above; the box still takes the pre-edit text
    return false;
  }
  return true;
}

// Queries

void TForm1::Button23Click() {
  FrameWriter(*this).Text(SystemParameterQueryFrame()).SendAsText(Pending::SystemParameters, Timeout::Query);
}

void TForm1::Button6Click() {
  FrameWriter(*this).Text(CommunicationQueryFrame()).SendAsText(Pending::CommunicationCheck, Timeout::Connection);
}

// Settings

void TForm1::Button29Click() {
  FrameWriter frame(*this);
  frame.Frame(SlaveAddressFrame(TextToIntOf(ui_->Edit14->text())), {FrameWriter::Number("MODBUS slave address")})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::SendWorkingMode(const QComboBox *modes, const QString &field) {
  FrameWriter frame(*this);
  frame.Frame(WorkingModeFrame(ItemIndex(modes)), {{field}}).SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Button24Click() { SendWorkingMode(ui_->ComboBox7, QStringLiteral("Module working mode")); }

void TForm1::Button15Click() {
  FrameWriter frame(*this);
  frame.Frame(ReturnTimeFrame(ItemIndex(ui_->ComboBox12)), {{"RS485A Data Return Time"}})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Button27Click() {
  FrameWriter frame(*this);
  frame
      .Frame(HartIntervalFrame(TextToIntOf(ui_->Edit6->text())),
             {FrameWriter::Number("HART instrument communication interval time")})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Button9Click() {
  FrameWriter frame(*this);
  frame.Frame(LineSettingFrame(ItemIndex(ui_->ComboBox8), ItemIndex(ui_->ComboBox9)), {{"RS485 Baud Rate"}, {"RS485 Parity"}})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
  // The module may change its line settings now; the port is closed 2 s later.
  Timer4.SetInterval(2000);
  Timer4.SetEnabled(true);
}

void TForm1::Button30Click() {
  FrameWriter(*this).Text(ParameterResetFrame()).SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Edit14Change() { ui_->Edit18->setText(ui_->Edit14->text()); }

// Factory commands, built as text

namespace {

// Shows a text-built request in "Send Buffer:" and writes it; a request too long for the module
// (its boxes take anything pasted into them) is refused there.
void SendText(TForm1 &form, const std::string &request) {
  Refusals refused;
  if (request.size() > TransmitView::kRoom) refused.TooLong(static_cast<int>(request.size()));
  refused.RaiseIfAny();
  form.ui()->Edit8->setText(QString::fromLatin1(request.data(), static_cast<qsizetype>(request.size())));
  form.WriteToLine(reinterpret_cast<const uint8_t *>(request.data()), request.size());
}

std::string Latin1(const QLineEdit *box) { return box->text().toLatin1().toStdString(); }

}  // namespace

void TForm1::AD1SETClick() {
  const std::string request = TotalizerFrame(Latin1(ui_->AD1H), Latin1(ui_->AD1L), Latin1(ui_->AD1LD));
  cycle_.Expect(Pending::FactoryAnswer);
  SendText(*this, request);
  ui_->Memo10->clear();
}

void TForm1::Button5Click() {
  ui_->Memo10->clear();
  cycle_.ArmTimeout();
  SendText(*this, CutoffFrame(Latin1(ui_->Edit2)));
  cycle_.Expect(Pending::FactoryAnswer);
}

void TForm1::PButton52Click() {
  SendText(*this, IntegerLsdFrame(TextToIntOf(ui_->PUSET3->text())));
  ui_->Memo10->clear();
  cycle_.Expect(Pending::FactoryAnswer);
}

void TForm1::Button3Click() {
  cycle_.ArmTimeout();
  SendText(*this, DecimalLsdFrame(Latin1(ui_->PUSET1XIAO)));
  ui_->Memo10->clear();
  cycle_.Expect(Pending::FactoryAnswer);
}

void TForm1::Button11Click() {
  SendText(*this, CoefficientFactorFrame(TextToIntOf(ui_->Edit3->text())));
  ui_->Memo10->clear();
  cycle_.Expect(Pending::FactoryAnswer);
}

void TForm1::Button60Click() {
  const int32_t serial = TextToIntOf(ui_->PCBSN->text());
  const int32_t inspector = TextToIntOf(ui_->JIANZHI->currentText());
  SendText(*this, BoardDataFrame(serial, inspector));
}

void TForm1::Button8Click() {
  FrameWriter(*this).Text(AdChannelQueryFrame()).SendAsText(Pending::FactoryAnswer, Timeout::Connection);
}

// Key filters

void TForm1::AD1HKeyPress(char &key) { FilterKey(kSignedDecimal6, ui_->AD1H, key); }
void TForm1::AD1LKeyPress(char &key) { FilterKey(kSignedDecimal6, ui_->AD1L, key); }
void TForm1::AD1LDKeyPress(char &key) { FilterKey(kSignedDecimal5, ui_->AD1LD, key); }
void TForm1::Edit2KeyPress(char &key) { FilterKey(kDecimal5, ui_->Edit2, key); }
void TForm1::PUSET3KeyPress(char &key) { FilterKey(kDigits8, ui_->PUSET3, key); }
void TForm1::PUSET1XIAOKeyPress(char &key) { FilterKey(kDigits3, ui_->PUSET1XIAO, key); }
void TForm1::Edit3KeyPress(char &key) { FilterKey(kDigits4, ui_->Edit3, key); }

// Replies

void TForm1::ParseCommunicationReply() {
  const QByteArray &text = cycle_.ReplyText();
  const std::string_view reply(text.constData(), static_cast<size_t>(text.size()));
  if (!FindReplyKey(reply, "QV:")) return;
  for (QPushButton *b : {ui_->Button16, ui_->Button21, ui_->Button24, ui_->Button29, ui_->Button15, ui_->Button27,
                         ui_->Button5, ui_->Button9, ui_->Button7, ui_->Button14, ui_->Button10, ui_->Button17,
                         ui_->Button18, ui_->Button12, ui_->Button31, ui_->Button23})
    b->setEnabled(true);
}

void TForm1::ParseSystemParameterReply() {
  const QByteArray &text = cycle_.ReplyText();
  const SystemParameters p = ReadSystemParameters(std::string_view(text.constData(), static_cast<size_t>(text.size())));
  auto select = [](QComboBox *list, const std::optional<int> &position) {
    if (position) SetItemIndex(list, *position);
  };
  auto show = [](QLineEdit *box, const std::optional<std::string> &text) {
    if (text) box->setText(QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size())));
  };
  select(ui_->ComboBox8, p.baudPosition);
  select(ui_->ComboBox9, p.parityPosition);
  select(ui_->ComboBox7, p.workingMode);
  select(ui_->ComboBox14, p.workingMode);
  show(ui_->Edit14, p.slaveAddress);
  select(ui_->ComboBox12, p.returnTime);
  show(ui_->Edit6, p.hartInterval);
  show(ui_->AD1H, p.rangeUpper);
  show(ui_->AD1L, p.rangeLower);
  show(ui_->AD1LD, p.totalizerStart);
  show(ui_->Edit2, p.cutoff);
  show(ui_->Edit3, p.coefficient);
  // What stood before a field that is no digit is shown; the conversion error stops the rest.
  if (p.error) throw EConvertError(*p.error);
}
