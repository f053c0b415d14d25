// Handlers of the "MODBUS Parameter Configuration" page: the parameter query with its reply parser
// and register map, the meter profile, data format, operation mode and coefficient settings, the
// custom HART command parsing settings, the RTU test and the IEEE-754 calculator.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstring>
#include <string>

#include "app/frame_writer.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "protocol/hart.h"
#include "protocol/ieee754_text.h"
#include "protocol/int_text.h"
#include "protocol/modbus_reply.h"
#include "protocol/modbus_rtu.h"
#include "protocol/module_frames.h"
#include "protocol/number_format.h"
#include "ui_main_window.h"

namespace {

// Every MODBUS-side command carries the selected meter. Without one (another polling address picked
// on the HART page, or typed text) the command is refused.
int Meter(const Ui::TForm1 &ui) { return ItemIndex(ui.ComboBox41); }
const FrameWriter::Field kMeterId{QStringLiteral("Meter ID")};

// Sends the MODBUS parameter query for the selected meter.
void SendParameterQuery(TForm1 &form) {
  FrameWriter frame(form);
  frame.Frame(MeterQueryFrame(Meter(*form.ui())), {kMeterId}).SendAsText(Pending::ModbusParameters, Timeout::Query);
}

// Empties the custom parsing fields; `withAddressBits` also clears "Address Bits:".
void ResetCustomParsing(Ui::TForm1 &ui, bool withAddressBits) {
  SetItemIndex(ui.ComboBox28, -1);
  SetItemIndex(ui.ComboBox29, -1);
  ui.Edit4->clear();
  ui.Edit5->clear();
  for (QComboBox *c : {ui.RADCOM1, ui.RADCOM3, ui.RADCOM5, ui.RADCOM7, ui.READLG1, ui.READLG3, ui.READLG5, ui.READLG7})
    SetItemIndex(c, -1);
  if (withAddressBits) SetItemIndex(ui.ComboBox15, -1);
  for (QLineEdit *e : {ui.READADR1, ui.READADR3, ui.READADR5, ui.READADR7}) e->clear();
}

// The custom read command setting of command "1" (Edit4, ComboBox28) or "2" (Edit5, ComboBox29).
void SendCustomCommand(TForm1 &form, char command, const QLineEdit *bytesBox, const QComboBox *switchBox) {
  FrameWriter frame(form);
  const HexPairs parsed = ParseHexPairs(bytesBox->text().toLatin1().toStdString(), 14);
  if (parsed.error == HexPairsError::NoSeparator) return ShowMessage(QStringLiteral("NO SPACK"));
  if (parsed.error == HexPairsError::BadCharacter) return ShowMessage(QStringLiteral("Data eeore!"));

  const QString field = QStringLiteral("Read Meter Command %1").arg(command);
  frame.Frame(CustomCommandFrame(Meter(*form.ui()), command, ItemIndex(switchBox), parsed.bytes), {kMeterId, {field}})
      .SendAsHex(Pending::SettingAcknowledgement, Timeout::Setting);
}

// Writes the reply's values into the page's controls.
class PageSink : public ModbusReplySink {
 public:
  explicit PageSink(Ui::TForm1 &ui) : ui_(ui) {}

  void SetPosition(ModbusReplyField field, int position) override {
    using M = ModbusReplyField;
    if (field == M::OperationMode) {
      SetItemIndex(ui_.ComboBox7, position);
      SetItemIndex(ui_.ComboBox14, position);
      return;
    }
    QComboBox *combo = nullptr;
    switch (field) {
      case M::CoefficientMode: combo = ui_.ComboBox18; break;
      case M::Enabled: combo = ui_.ComboBox6; break;
      case M::DeviceMode: combo = ui_.ComboBox16; break;
      case M::MeterType: combo = ui_.ComboBox17; break;
      case M::Preamble: combo = ui_.ComboBox34; break;
      case M::Format1: combo = ui_.FAMOUT1; break;
      case M::Format3: combo = ui_.FAMOUT3; break;
      case M::Format5: combo = ui_.FAMOUT5; break;
      case M::Format7: combo = ui_.FAMOUT7; break;
      case M::Format9: combo = ui_.FAMOUT9; break;
      case M::AddressBits: combo = ui_.ComboBox15; break;
      case M::Command1: combo = ui_.RADCOM1; break;
      case M::Length1: combo = ui_.READLG1; break;
      case M::Command3: combo = ui_.RADCOM3; break;
      case M::Length3: combo = ui_.READLG3; break;
      case M::Command5: combo = ui_.RADCOM5; break;
      case M::Length5: combo = ui_.READLG5; break;
      case M::Command7: combo = ui_.RADCOM7; break;
      case M::Length7: combo = ui_.READLG7; break;
      case M::Command1Switch: combo = ui_.ComboBox28; break;
      case M::Command2Switch: combo = ui_.ComboBox29; break;
      default: return;
    }
    SetItemIndex(combo, position);
  }

  void SetText(ModbusReplyField field, std::string_view text) override {
    using M = ModbusReplyField;
    QLineEdit *box = nullptr;
    switch (field) {
      case M::CoefficientFactor: box = ui_.Beilv; break;
      case M::ClearTime: box = ui_.Edit1; break;
      case M::StartAddress1: box = ui_.READADR1; break;
      case M::StartAddress3: box = ui_.READADR3; break;
      case M::StartAddress5: box = ui_.READADR5; break;
      case M::StartAddress7: box = ui_.READADR7; break;
      case M::Command1Bytes: box = ui_.Edit4; break;
      case M::Command2Bytes: box = ui_.Edit5; break;
      default: return;
    }
    box->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  }

  int SelectedMeterType() const override { return ItemIndex(ui_.ComboBox17); }
  void ShowCustomParsing(bool shown) override { ui_.GroupBox13->setVisible(shown); }

 private:
  Ui::TForm1 &ui_;
};

}  // namespace

void TForm1::ConnectModbusPage() {
  Bind(ui_->Button31, &QPushButton::clicked, &TForm1::Button31Click);
  Bind(ui_->ComboBox41, &QComboBox::activated, &TForm1::ComboBox41Change);
  Bind(ui_->ComboBox41->lineEdit(), &QLineEdit::textEdited, &TForm1::ComboBox41Change);
  Bind(ui_->Button10, &QPushButton::clicked, &TForm1::Button10Click);
  Bind(ui_->Button21, &QPushButton::clicked, &TForm1::Button21Click);
  Bind(ui_->Button22, &QPushButton::clicked, &TForm1::Button22Click);
  Bind(ui_->Button2, &QPushButton::clicked, &TForm1::Button2Click);
  Bind(ui_->ComboBox17, &QComboBox::activated, &TForm1::ComboBox17Change);
  Bind(ui_->Button17, &QPushButton::clicked, &TForm1::Button17Click);
  Bind(ui_->Button18, &QPushButton::clicked, &TForm1::Button18Click);
  Bind(ui_->Button12, &QPushButton::clicked, &TForm1::Button12Click);
  Bind(ui_->Button4, &QPushButton::clicked, &TForm1::Button4Click);
  Bind(ui_->Button13, &QPushButton::clicked, &TForm1::Button13Click);
}

// Parameter query and register map

void TForm1::Button31Click() { SendParameterQuery(*this); }

void TForm1::ComboBox41Change() {
  if (!cycle_.PortOpen()) return;
  const int meter = ItemIndex(ui_->ComboBox41);
  if (!IndexDigit(meter)) return;  // no meter selected

  const QString d = QString::number(meter);
  ui_->Label19->setText("400" + d + "1");
  ui_->Label24->setText("400" + d + "3");
  ui_->Label27->setText("400" + d + "5");
  ui_->Label28->setText("400" + d + "7");
  ui_->Label29->setText("400" + d + "9");
  ui_->Edit19->setText(d + "0");
  ui_->Edit20->setText(QStringLiteral("10"));

  // The fields the reply fills; the coefficient, operation mode and address bits stay.
  for (QComboBox *c : {ui_->ComboBox6, ui_->ComboBox17, ui_->ComboBox16, ui_->ComboBox34}) SetItemIndex(c, -1);
  ui_->Edit1->clear();
  for (QComboBox *c : {ui_->FAMOUT1, ui_->FAMOUT3, ui_->FAMOUT5, ui_->FAMOUT7, ui_->FAMOUT9}) SetItemIndex(c, -1);
  ui_->GroupBox13->setVisible(false);
  ResetCustomParsing(*ui_, false);

  // The module settings of the system page; emptying Edit14 also empties its mirror Edit18.
  SetItemIndex(ui_->ComboBox7, -1);
  ui_->Edit14->clear();
  SetItemIndex(ui_->ComboBox12, -1);
  ui_->Edit6->clear();
  SetItemIndex(ui_->ComboBox8, -1);
  SetItemIndex(ui_->ComboBox9, -1);

  SendParameterQuery(*this);
}

void TForm1::ParseModbusParameterReply() {
  PageSink sink(*ui_);
  const QByteArray &text = cycle_.ReplyText();
  ApplyModbusParameterReply(std::string_view(text.constData(), static_cast<size_t>(text.size())), sink);
}

// Meter profile and data format settings

void TForm1::Button10Click() {
  FrameWriter frame(*this);
  const int32_t clearTime = TextToIntOf(ui_->Edit1->text());
  frame
      .Frame(MeterProfileFrame(Meter(*ui_), ItemIndex(ui_->ComboBox6), ItemIndex(ui_->ComboBox16),
                               ItemIndex(ui_->ComboBox17), ItemIndex(ui_->ComboBox34), clearTime),
             {kMeterId, {"Enabled"}, {"Device Mode"}, {"Meter Type"}, {"Preamble Length"},
              FrameWriter::Number("Buffer Clear Time")})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Button21Click() {
  FrameWriter frame(*this);
  const std::array<int, 5> formats = {ItemIndex(ui_->FAMOUT1), ItemIndex(ui_->FAMOUT3), ItemIndex(ui_->FAMOUT5),
                                      ItemIndex(ui_->FAMOUT7), ItemIndex(ui_->FAMOUT9)};
  frame
      .Frame(DataFormatFrame(Meter(*ui_), formats),
             {kMeterId, {"Data format of Current(RTU_ADR)"}, {"Data format of Variable_1(RTU_ADR)"},
              {"Data format of Variable_2(RTU_ADR)"}, {"Data format of Variable_3(RTU_ADR)"},
              {"Data format of Variable_4(RTU_ADR)"}})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::Button22Click() { SendWorkingMode(ui_->ComboBox14, QStringLiteral("Module Operation Mode")); }

void TForm1::Button2Click() {
  FrameWriter frame(*this);
  // The module takes exactly five factor characters, one byte each.
  const QString factor = ui_->Beilv->text().left(5);
  if (factor.size() < 5)
    frame.Refused().Note(
        QStringLiteral("Coefficient: \"%1\" has fewer than five characters; nothing was sent").arg(factor));
  if (std::any_of(factor.begin(), factor.end(), [](QChar c) { return c.unicode() > 0xFF; }))
    frame.Refused().Note(
        QStringLiteral("Coefficient: \"%1\" holds a character the module cannot take; nothing was sent").arg(factor));
  frame.Frame(CoefficientFrame(ItemIndex(ui_->ComboBox18), factor.toLatin1().toStdString()), {{"Variable 1 Coefficient"}})
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

void TForm1::ComboBox17Change() {
  if (ItemIndex(ui_->ComboBox17) == 0) {
    ui_->GroupBox13->setVisible(true);
    ResetCustomParsing(*ui_, true);
  } else {
    ui_->GroupBox13->setVisible(false);
  }
}

// Custom HART command parsing

void TForm1::Button17Click() { SendCustomCommand(*this, '1', ui_->Edit4, ui_->ComboBox28); }

void TForm1::Button18Click() { SendCustomCommand(*this, '2', ui_->Edit5, ui_->ComboBox29); }

void TForm1::Button12Click() {
  FrameWriter frame(*this);
  const struct {
    QComboBox *command;
    QLineEdit *start;
    QComboBox *length;
  } boxes[] = {{ui_->RADCOM1, ui_->READADR1, ui_->READLG1},
               {ui_->RADCOM3, ui_->READADR3, ui_->READLG3},
               {ui_->RADCOM5, ui_->READADR5, ui_->READLG5},
               {ui_->RADCOM7, ui_->READADR7, ui_->READLG7}};
  std::array<ParsingRow, 4> rows{};
  for (size_t v = 0; v < rows.size(); ++v)
    rows[v] = {ItemIndex(boxes[v].command), TextToIntOf(boxes[v].start->text()), ItemIndex(boxes[v].length)};
  std::vector<FrameWriter::Field> fields = {kMeterId, {"Address Bits"}};
  for (int v = 1; v <= 4; ++v) {
    const QString name = QStringLiteral("Variable_%1").arg(v);
    fields.insert(fields.end(), {{name + " Command Number"},
                                 FrameWriter::Number(name + " Start Adr."),
                                 {name + " Data Length"}});
  }
  frame.Frame(ParsingFormatFrame(Meter(*ui_), ItemIndex(ui_->ComboBox15), rows), fields)
      .SendAsText(Pending::SettingAcknowledgement, Timeout::Setting);
}

// MODBUS RTU test and IEEE-754 calculator

void TForm1::Button4Click() {
  FrameWriter frame(*this);
  // Only the low byte of each number is used.
  auto lowByte = [](const QLineEdit *box) { return static_cast<uint8_t>(TextToIntOf(box->text()) & 0xFF); };
  const uint8_t slave = lowByte(ui_->Edit18);
  const uint8_t start = lowByte(ui_->Edit19);
  const uint8_t count = lowByte(ui_->Edit20);
  frame.Bytes(ReadHoldingRegistersRequest(slave, start, count)).SendAsHex(Pending::RtuReply, Timeout::Connection);
}

void TForm1::Button13Click() {
  const Ieee754Text parsed = ParseIeee754Text(ui_->Edit7->text().toLatin1().toStdString());
  if (parsed.error == Ieee754TextError::NoSeparator) return ShowMessage(QStringLiteral("Input data without spaces"));
  if (parsed.error == Ieee754TextError::BadCharacter)
    return ShowMessage(QStringLiteral("Invalid characters detected, please re-enter!"));
  const std::string text = CutTo(FormatGeneral(static_cast<double>(parsed.value), LocaleDecimalPoint()), 10);
  ui_->Edit22->setText(QString::fromStdString(text));
}
