// Handlers of the "Transparent Mode" page: the manual HART command, the identity and
// dynamic-variable queries with their reply parsers, the polling-address setting, and the
// polling-address box's effect on the MODBUS page's meter selector.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

#include "app/main_window.h"
#include "protocol/hart.h"
#include "protocol/int_text.h"
#include "protocol/number_format.h"
#include "ui_main_window.h"

namespace {

// Positions of the fields of the answers, counted from the last preamble byte.
constexpr int kIdentityLastByte = 18;
constexpr int kVariableStride = 5;
constexpr int kFirstVariable = 15;  // unit code, then four value bytes

// A list box's position: the picked item, or a whole number typed into it that names an item.
// Anything else is refused (and stands as 0 in the frame, which is not sent).
int PositionOf(const QComboBox *combo, const QString &field, Refusals &refused) {
  int index = ItemIndex(combo);
  if (index >= 0) return index;
  auto typed = TryTextToInt(combo->currentText().toStdString());
  if (typed && *typed >= 0 && *typed < combo->count()) return *typed;
  refused.Note(QStringLiteral("%1: \"%2\" is not one of 0 to %3; nothing was sent")
                   .arg(field, combo->currentText())
                   .arg(combo->count() - 1));
  return 0;
}

}  // namespace

void TForm1::ConnectHartPage() {
  Bind(ui_->Button20, &QPushButton::clicked, &TForm1::Button20Click);
  Bind(ui_->Button7, &QPushButton::clicked, &TForm1::Button7Click);
  Bind(ui_->Button16, &QPushButton::clicked, &TForm1::Button16Click);
  Bind(ui_->Button14, &QPushButton::clicked, &TForm1::Button14Click);
  Bind(ui_->ComboBox30, &QComboBox::activated, &TForm1::ComboBox30Change);
  Bind(ui_->ComboBox30->lineEdit(), &QLineEdit::textEdited, &TForm1::ComboBox30Change);
}

int TForm1::PreambleCount(int bodyLength, Refusals &refused) {
  const int n = TextToIntOf(ui_->Edit9->text());
  // The frame must fit the transmit area: n + 1 preambles, the body, its checksum.
  const int most = (kFrameEnd - kFrameStart) - bodyLength - 2;
  if (n >= -1 && n <= most) return n + 1;
  refused.OutOfRange(QStringLiteral("Preamble Length"), n, -1, most);
  return 0;
}

uint8_t TForm1::MasterFlag() const { return ItemIndex(ui_->ComboBox42) == 0 ? kMasterFlag : 0x00; }

HartIdentity TForm1::StoredIdentity() const {
  return {HartManufacturer, CommBuffer[6], {CommBuffer[0], CommBuffer[1], CommBuffer[2]}};
}

void TForm1::SendHartRequest(const std::vector<uint8_t> &frame, Pending::Code awaited, const Refusals &refused) {
  refused.RaiseIfAny();
  std::copy(frame.begin(), frame.end(), CommBuffer + kFrameStart);
  SendFrameAsHex(static_cast<int>(frame.size()), refused);
  Timer3.SetEnabled(true);
  PendingReply = awaited;
  TimeoutKind = Timeout::Setting;
}

void TForm1::Button20Click() {
  ClearSendAndReceive();
  const QByteArray text = ui_->Edit10->text().toLatin1();
  const HexPairs body = ParseHexPairs(std::string_view(text.constData(), static_cast<size_t>(text.size())), 15);
  if (body.error == HexPairsError::NoSeparator) {
    ShowMessage(QStringLiteral("NO SPACK"));
    return;
  }
  if (body.error == HexPairsError::BadCharacter) {
    ShowMessage(QStringLiteral("Data eeore!"));
    return;
  }
  Refusals refused;
  const int preambles = PreambleCount(static_cast<int>(body.bytes.size()), refused);
  SendHartRequest(HartRawFrame(preambles, body.bytes), Pending::HartManualCommand, refused);
}

void TForm1::Button7Click() {
  Refusals refused;
  ClearSendAndReceive();
  for (QLineEdit *e : {ui_->Edit28, ui_->Edit29, ui_->Edit31, ui_->Edit32}) e->clear();
  const int preambles = PreambleCount(4, refused);
  const int address = PositionOf(ui_->ComboBox30, QStringLiteral("HART Address"), refused);
  const auto frame = HartShortFrame(preambles, MasterFlag(), static_cast<uint8_t>(address), 0x00);
  refused.RaiseIfAny();  // the stored address is kept for a query that goes out
  CommBuffer[7] = static_cast<uint8_t>(address);
  SendHartRequest(frame, Pending::HartIdentity, refused);
}

void TForm1::Button16Click() {
  Refusals refused;
  ClearSendAndReceive();
  const int preambles = PreambleCount(8, refused);
  SendHartRequest(HartLongFrame(preambles, MasterFlag(), StoredIdentity(), 0x03), Pending::HartDynamicVariables, refused);
}

void TForm1::Button14Click() {
  Refusals refused;
  comm1_->SetRtsControl(TRtsControl::RtsEnable);
  ClearSendAndReceive();
  const int preambles = PreambleCount(9, refused);
  const int address = PositionOf(ui_->ComboBox27, QStringLiteral("HART Address Configuration"), refused);
  SendHartRequest(HartLongFrame(preambles, MasterFlag(), StoredIdentity(), 0x06, {static_cast<uint8_t>(address)}),
                  Pending::HartPollingAddress, refused);
  Timer3.SetInterval(kSettingTimeoutMs);
  Timer3.SetEnabled(true);
}

void TForm1::ComboBox30Change() {
  SetItemIndex(ui_->ComboBox41, ItemIndex(ui_->ComboBox30));
  if (ItemIndex(ui_->ComboBox41) < 0) return;
  const char *registers[] = {"40001", "40003", "40005", "40007", "40009"};
  QLabel *labels[] = {ui_->Label19, ui_->Label24, ui_->Label27, ui_->Label28, ui_->Label29};
  for (int k = 0; k < 5; ++k) labels[k]->setText(QString::fromLatin1(registers[k]));
}

// The first i with reply bytes i and i + 1 equal to 0xFF and `delimiter`, 0 <= i <= length - 5.
int TForm1::FindHartReply(uint8_t delimiter) const {
  const uint8_t *reply = CommBuffer + kReplyStart;
  const int length = static_cast<int>(ReplyText.size());
  for (int i = 0; i + 5 <= length; ++i)
    if (reply[i] == 0xFF && reply[i + 1] == delimiter) return i;
  return -1;
}

void TForm1::ParseIdentityReply() {
  const uint8_t *reply = CommBuffer + kReplyStart;
  const int i = FindHartReply(0x06);
  // Only bytes of this reply count: one that ends before the device identifier is no answer. The
  // search stops at the 255 characters of ReplyText; the fields may lie beyond, in the copy.
  if (i < 0 || i + kIdentityLastByte >= ReplyHeld) {
    for (QLineEdit *e : {ui_->Edit28, ui_->Edit29, ui_->Edit31, ui_->Edit32}) e->clear();
    return;
  }
  HartManufacturer = reply[i + 8];
  ui_->Edit28->setText(QString::number(HartManufacturer));
  CommBuffer[6] = reply[i + 9];
  ui_->Edit29->setText(QString::number(CommBuffer[6]));
  HartPreambleNeed = reply[i + 10];
  ui_->Edit31->setText(QString::number(HartPreambleNeed));
  SetItemIndex(ui_->ComboBox27, CommBuffer[7]);
  for (int k = 0; k < 3; ++k) CommBuffer[k] = reply[i + 16 + k];
  const uint32_t id = (uint32_t{CommBuffer[0]} << 16) | (uint32_t{CommBuffer[1]} << 8) | CommBuffer[2];
  ui_->Edit32->setText(QString::number(id));
}

void TForm1::ParseDynamicVariableReply() {
  const uint8_t *reply = CommBuffer + kReplyStart;
  const int length = ReplyHeld;
  const int i = FindHartReply(0x86);
  if (i < 0 || i + 8 >= length) return;
  const int byteCount = reply[i + 8];

  QLineEdit *values[] = {ui_->Edit25, ui_->Edit26, ui_->Edit27, ui_->Edit30};
  QLabel *copies[] = {ui_->HLabel2, ui_->HLabel3, ui_->HLabel4, ui_->HLabel5};
  QComboBox *units[] = {ui_->ComboBox3, ui_->ComboBox31, ui_->ComboBox32, ui_->ComboBox33};
  // Variable 1 always; variable k + 2 for each k with 5k < byteCount - 11.
  int taken = 1;
  for (int k = 0; k < 3 && byteCount > 11 && kVariableStride * k < byteCount - 11; ++k) taken = k + 2;

  for (int v = 0; v < taken; ++v) {
    const int at = i + kFirstVariable + kVariableStride * v;
    if (at + 4 >= length) break;  // only variables received whole are shown
    const uint8_t *b = reply + at + 1;
    const QString text = b[0] == 0x7F ? QStringLiteral("00000000")
                                      : QString::fromStdString(CutTo(
                                            FormatGeneral(FloatFromBytes(b[0], b[1], b[2], b[3]), LocaleDecimalPoint()), 9));
    values[v]->setText(text);
    copies[v]->setText(values[v]->text());
    SetItemIndex(units[v], UnitPosition(reply[at]));
  }
}
