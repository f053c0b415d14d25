// Handlers of the "Transparent Mode" page: the manual HART command, the identity and
// dynamic-variable queries with their reply parsers, the polling-address setting, and the
// polling-address box's effect on the MODBUS page's meter selector.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cmath>

#include "app/frame_writer.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "protocol/hart.h"
#include "protocol/hart_reply.h"
#include "protocol/number_format.h"
#include "ui_main_window.h"

namespace {

// P from "Preamble Length:" for a frame whose body (delimiter to last data byte) has `bodyLength` bytes.
int PreambleCount(const Ui::TForm1 &ui, int bodyLength, Refusals &refused) {
  const int n = TextToIntOf(ui.Edit9->text());
  // The frame must fit the transmit area: n + 1 preambles, the body, its checksum.
  const int most = TransmitView::kRoom - bodyLength - 2;
  if (n >= -1 && n <= most) return n + 1;
  refused.OutOfRange(QStringLiteral("Preamble Length"), n, -1, most);
  return 0;
}

uint8_t MasterFlag(const Ui::TForm1 &ui) { return ItemIndex(ui.ComboBox42) == 0 ? hart::kPrimaryMaster : 0x00; }

// Shows the frame in hexadecimal and writes it; the HART requests arm Timer3 without setting its
// interval.
void SendHartRequest(TForm1 &form, FrameWriter &request, const std::vector<uint8_t> &frame, Pending::Code awaited) {
  request.Refused().RaiseIfAny();  // before the frame takes the transmit area
  request.Bytes(frame).WriteAsHex();
  form.Cycle().ArmTimeout();
  form.Cycle().Expect(awaited, Timeout::Setting);
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

void TForm1::Button20Click() {
  FrameWriter request(*this);
  const QByteArray text = ui_->Edit10->text().toLatin1();
  const HexPairs body = ParseHexPairs(std::string_view(text.constData(), static_cast<size_t>(text.size())), 15);
  if (body.error == HexPairsError::NoSeparator) return ShowMessage(QStringLiteral("NO SPACK"));
  if (body.error == HexPairsError::BadCharacter) return ShowMessage(QStringLiteral("Data eeore!"));
  const int preambles = PreambleCount(*ui_, static_cast<int>(body.bytes.size()), request.Refused());
  SendHartRequest(*this, request, HartRawFrame(preambles, body.bytes), Pending::HartManualCommand);
}

void TForm1::Button7Click() {
  FrameWriter request(*this);
  for (QLineEdit *e : {ui_->Edit28, ui_->Edit29, ui_->Edit31, ui_->Edit32}) e->clear();
  const int preambles = PreambleCount(*ui_, 4, request.Refused());
  const int address = request.PositionOf(ui_->ComboBox30, QStringLiteral("HART Address"));
  const auto frame = HartShortFrame(preambles, MasterFlag(*ui_), static_cast<uint8_t>(address), hart::kReadUniqueIdentifier);
  request.Refused().RaiseIfAny();  // the address is kept for a query that goes out
  hartIdentity_.SetQueriedAddress(static_cast<uint8_t>(address));
  SendHartRequest(*this, request, frame, Pending::HartIdentity);
}

void TForm1::Button16Click() {
  FrameWriter request(*this);
  const int preambles = PreambleCount(*ui_, 8, request.Refused());
  SendHartRequest(*this, request, HartLongFrame(preambles, MasterFlag(*ui_), hartIdentity_.Identity(), hart::kReadDynamicVariables),
                  Pending::HartDynamicVariables);
}

void TForm1::Button14Click() {
  comm1_->SetRtsControl(TRtsControl::RtsEnable);
  FrameWriter request(*this);
  const int preambles = PreambleCount(*ui_, 9, request.Refused());
  const int address = request.PositionOf(ui_->ComboBox27, QStringLiteral("HART Address Configuration"));
  const HartIdentity identity = hartIdentity_.Identity();
  SendHartRequest(*this, request,
                  HartLongFrame(preambles, MasterFlag(*ui_), identity, hart::kWritePollingAddress, {static_cast<uint8_t>(address)}),
                  Pending::HartPollingAddress);
  cycle_.Await(Pending::HartPollingAddress, Timeout::Setting);  // and the time-out at 3000 ms
}

void TForm1::ComboBox30Change() {
  SetItemIndex(ui_->ComboBox41, ItemIndex(ui_->ComboBox30));
  if (ItemIndex(ui_->ComboBox41) < 0) return;
  const char *registers[] = {"40001", "40003", "40005", "40007", "40009"};
  QLabel *labels[] = {ui_->Label19, ui_->Label24, ui_->Label27, ui_->Label28, ui_->Label29};
  for (int k = 0; k < 5; ++k) labels[k]->setText(QString::fromLatin1(registers[k]));
}

void TForm1::ParseIdentityReply() {
  const ReplyView copy = cycle_.Reply();
  const auto reply = ReadIdentityReply(copy.Data(), static_cast<int>(cycle_.ReplyText().size()), copy.Held());
  if (!reply) {
    for (QLineEdit *e : {ui_->Edit28, ui_->Edit29, ui_->Edit31, ui_->Edit32}) e->clear();
    return;
  }
  const HartIdentity &identity = reply->identity;
  hartIdentity_.Store(identity, reply->preambleNeed);
  ui_->Edit28->setText(QString::number(identity.manufacturer));
  ui_->Edit29->setText(QString::number(identity.deviceType));
  ui_->Edit31->setText(QString::number(hartIdentity_.PreambleNeed()));
  SetItemIndex(ui_->ComboBox27, hartIdentity_.QueriedAddress());
  const auto &id = identity.deviceId;
  ui_->Edit32->setText(QString::number((uint32_t{id[0]} << 16) | (uint32_t{id[1]} << 8) | id[2]));
}

void TForm1::ParseDynamicVariableReply() {
  const ReplyView copy = cycle_.Reply();
  const auto variables = ReadDynamicVariables(copy.Data(), static_cast<int>(cycle_.ReplyText().size()), copy.Held());
  if (!variables) return;
  QLineEdit *values[] = {ui_->Edit25, ui_->Edit26, ui_->Edit27, ui_->Edit30};
  QLabel *copies[] = {ui_->HLabel2, ui_->HLabel3, ui_->HLabel4, ui_->HLabel5};
  QComboBox *units[] = {ui_->ComboBox3, ui_->ComboBox31, ui_->ComboBox32, ui_->ComboBox33};
  TrendSample sample;
  sample.seconds = traffic_->SecondsNow();
  for (size_t v = 0; v < variables->size(); ++v) {
    const DynamicVariable &variable = (*variables)[v];
    values[v]->setText(QString::fromStdString(DynamicValueText(variable.value, LocaleDecimalPoint())));
    copies[v]->setText(values[v]->text());
    SetItemIndex(units[v], UnitPosition(variable.unitCode));
    const auto &b = variable.value;
    const float value = FloatFromBytes(b[0], b[1], b[2], b[3]);
    if (b[0] != hart::kNotANumberFirstByte && std::isfinite(value)) sample.values[v] = value;  // else a gap in the trend
    sample.units[v] = QString::fromUtf8(UnitName(UnitPosition(variable.unitCode)));
  }
  traffic_->AddSample(std::move(sample));
}
