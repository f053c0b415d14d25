#include "instrument/instrument_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStringList>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

#include "app/main_window.h"
#include "instrument/hart_link.h"
#include "protocol/config_frame.h"
#include "protocol/hart.h"
#include "protocol/hart_commands.h"

namespace {

// Requests at the short address, before the instrument has said how many preambles it needs: the
// main window's default "Preamble Length" of 6, plus one.
constexpr int kRequestPreambles = 7;

const char *Caption(HartSettingId id) {
  switch (id) {
    case HartSettingId::Tag: return "Tag:";
    case HartSettingId::Descriptor: return "Descriptor:";
    case HartSettingId::Date: return "Date:";
    case HartSettingId::Message: return "Message:";
    case HartSettingId::FinalAssembly: return "Final assembly number:";
    case HartSettingId::LongTag: return "Long tag:";
    case HartSettingId::PvUnits: return "PV unit:";
    case HartSettingId::LowerRange: return "Lower range value:";
    case HartSettingId::UpperRange: return "Upper range value:";
    case HartSettingId::Damping: return "Damping (s):";
    case HartSettingId::PollingAddress: return "Polling address:";
    case HartSettingId::ResponsePreambles: return "Response preambles:";
  }
  return "";
}

QString Q(const std::string &text) { return QString::fromStdString(text); }

// A value as its box shows it: a number with the user's decimal point (a typed one is read with
// either), any other as it is.
QString Shown(const HartSettingSpec &spec, const std::string &value) {
  const bool decimal = spec.id == HartSettingId::LowerRange || spec.id == HartSettingId::UpperRange ||
                       spec.id == HartSettingId::Damping;
  QString text = Q(value);
  return decimal ? text.replace(QLatin1Char('.'), QLocale().decimalPoint()) : text;
}

// A message of the link or a parser as a sentence of the status line.
QString Sentence(const std::string &text) {
  QString s = Q(text);
  if (!s.isEmpty()) s[0] = s[0].toUpper();
  if (!s.endsWith(QLatin1Char('.'))) s += QLatin1Char('.');
  return s;
}

// A problem or note named after its setting, shown beside the setting's field without the name.
QString BesideField(const HartSettingSpec &spec, const std::string &text) {
  const std::string prefix = std::string(spec.name) + ": ";
  return Q(text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text);
}

QString Milliamperes(float value) { return Q(HartFloatText(value)) + QStringLiteral(" mA"); }

QPushButton *Button(const QString &text, const char *name, QWidget *parent) {
  auto *b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

const char *kLampOff = "QLabel { background: #dcdcdc; color: #707070; border: 1px solid #b4b4b4; border-radius: 3px; padding: 2px 6px; }";
const char *kLampOn = "QLabel { background: #f2b134; color: black; border: 1px solid #b07a10; border-radius: 3px; padding: 2px 6px; }";
const char *kLampAlarm = "QLabel { background: #e0483e; color: white; border: 1px solid #9a2019; border-radius: 3px; padding: 2px 6px; }";

}  // namespace

InstrumentWindow::InstrumentWindow(TForm1 &form)
    : QWidget(nullptr, Qt::Window), form_(form), link_(new HartLink(form.Cycle(), this)) {
  setObjectName(QStringLiteral("Instrument"));
  setWindowTitle(tr("RQ735 Instrument"));

  auto *layout = new QVBoxLayout(this);
  auto *tools = new QHBoxLayout;
  read_ = Button(tr("Read"), "ReadButton", this);
  read_->setToolTip(tr("Identity and every setting the instrument's revision has, at its polling address"));
  write_ = Button(tr("Write"), "WriteButton", this);
  write_->setToolTip(tr("The settings changed since the last read, then read back"));
  tools->addWidget(read_);
  tools->addWidget(write_);
  tools->addStretch();
  layout->addLayout(tools);

  auto *middle = new QHBoxLayout;
  auto *left = new QVBoxLayout;

  auto *identityBox = new QGroupBox(tr("Identity"), this);
  identityBox->setObjectName(QStringLiteral("IdentityGroup"));
  auto *identityGrid = new QGridLayout(identityBox);
  const char *identityNames[] = {"Manufacturer", "DeviceType", "DeviceId", "UniversalRevision"};
  const QString identityCaptions[] = {tr("Manufacturer:"), tr("Device type:"), tr("Device id:"),
                                      tr("Universal revision:")};
  for (size_t i = 0; i < identity_.size(); ++i) {
    identity_[i] = new QLineEdit(identityBox);
    identity_[i]->setObjectName(QLatin1String(identityNames[i]));
    identity_[i]->setReadOnly(true);
    // Selectable to copy, but not where the focus lands while Read is held down.
    identity_[i]->setFocusPolicy(Qt::ClickFocus);
    identityGrid->addWidget(new QLabel(identityCaptions[i], identityBox), static_cast<int>(i), 0);
    identityGrid->addWidget(identity_[i], static_cast<int>(i), 1);
  }
  left->addWidget(identityBox);

  auto *statusBox = new QGroupBox(tr("Device status"), this);
  statusBox->setObjectName(QStringLiteral("DeviceStatusGroup"));
  auto *statusGrid = new QGridLayout(statusBox);
  for (int bit = 7; bit >= 0; --bit) {
    auto *lamp = new QLabel(QString::fromLatin1(hart::DeviceStatusBitName(static_cast<uint8_t>(1u << bit))), statusBox);
    lamp->setObjectName(QStringLiteral("StatusLamp%1").arg(bit));
    lamp->setStyleSheet(QLatin1String(kLampOff));
    lamp->setProperty("lit", false);
    lamps_[static_cast<size_t>(bit)] = lamp;
    const int place = 7 - bit;
    statusGrid->addWidget(lamp, place / 2, place % 2);
  }
  left->addWidget(statusBox);
  left->addStretch();
  middle->addLayout(left);

  auto *settingsBox = new QGroupBox(tr("Settings"), this);
  settingsBox->setObjectName(QStringLiteral("SettingsGroup"));
  auto *settingsGrid = new QGridLayout(settingsBox);
  int line = 0;
  for (const HartSettingSpec &spec : HartSettings()) {
    Row row;
    row.spec = &spec;
    row.edit = new QLineEdit(settingsBox);
    row.edit->setObjectName(QStringLiteral("Setting_%1").arg(QLatin1String(spec.name)));
    row.edit->setToolTip(QString::fromLatin1(spec.about));
    row.edit->setMinimumWidth(260);
    row.outcome = new QLabel(settingsBox);
    row.outcome->setObjectName(QStringLiteral("Outcome_%1").arg(QLatin1String(spec.name)));
    row.outcome->setMinimumWidth(330);
    settingsGrid->addWidget(new QLabel(tr(Caption(spec.id)), settingsBox), line, 0);
    settingsGrid->addWidget(row.edit, line, 1);
    settingsGrid->addWidget(row.outcome, line, 2);
    rows_.push_back(row);
    ++line;
  }
  settingsGrid->setColumnStretch(2, 1);
  middle->addWidget(settingsBox, 1);
  layout->addLayout(middle);

  auto *loopBox = new QGroupBox(tr("Loop test"), this);
  loopBox->setObjectName(QStringLiteral("LoopGroup"));
  auto *loopLayout = new QVBoxLayout(loopBox);
  auto *loopTools = new QHBoxLayout;
  const struct {
    const char *name;
    float milliamperes;
  } presets[] = {{"Loop4mA", 4}, {"Loop12mA", 12}, {"Loop20mA", 20}};
  for (const auto &p : presets) {
    QPushButton *b = Button(Milliamperes(p.milliamperes), p.name, loopBox);
    connect(b, &QPushButton::clicked, this, [this, value = p.milliamperes] { FixCurrent(value); });
    loopButtons_.push_back(b);
    loopTools->addWidget(b);
  }
  loopValue_ = new QLineEdit(loopBox);
  loopValue_->setObjectName(QStringLiteral("LoopCurrentEdit"));
  loopValue_->setMaximumWidth(90);
  loopValue_->setToolTip(tr("A loop current in mA"));
  QPushButton *fix = Button(tr("Fix"), "LoopFixButton", loopBox);
  loopButtons_.push_back(fix);
  endTest_ = Button(tr("End test"), "EndTestButton", loopBox);
  endTest_->setToolTip(tr("Leave fixed current mode: the loop current follows the process again"));
  reported_ = new QLabel(loopBox);
  reported_->setObjectName(QStringLiteral("ReportedCurrent"));
  loopTools->addWidget(loopValue_);
  loopTools->addWidget(new QLabel(tr("mA"), loopBox));
  loopTools->addWidget(fix);
  loopTools->addWidget(endTest_);
  loopTools->addSpacing(16);
  loopTools->addWidget(new QLabel(tr("Reported current:"), loopBox));
  loopTools->addWidget(reported_);
  loopTools->addStretch();
  loopLayout->addLayout(loopTools);
  banner_ = new QLabel(loopBox);
  banner_->setObjectName(QStringLiteral("LoopBanner"));
  banner_->setWordWrap(true);
  banner_->setStyleSheet(QStringLiteral("QLabel { background: #f2b134; color: black; padding: 4px; font-weight: bold; }"));
  banner_->hide();
  loopLayout->addWidget(banner_);
  layout->addWidget(loopBox);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("InstrumentStatus"));
  status_->setWordWrap(true);
  status_->setText(tr("Press Read: the module must be in its transparent working mode."));
  layout->addWidget(status_);

  connect(read_, &QPushButton::clicked, this, [this] { Read(); });
  connect(write_, &QPushButton::clicked, this, [this] { Write(); });
  connect(fix, &QPushButton::clicked, this, [this] {
    QString text = loopValue_->text().trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = text.toDouble(&ok);  // QString's conversion ignores the C library's locale
    if (!ok) return Status(tr("Loop test: \"%1\" is not a current in mA.").arg(loopValue_->text()), true);
    FixCurrent(value);
  });
  connect(endTest_, &QPushButton::clicked, this, [this] { EndTest(); });

  link_->onStopped = [this](const std::string &why) { Status(Sentence(why), true); };
  link_->onDeviceStatus = [this](uint8_t status) { ShowDeviceStatus(status); };
  link_->onIdle = [this] { UpdateControls(); };
  form_.Cycle().SetBeforeClose([this] { PortClosing(); });
  UpdateControls();
  read_->setFocus();
}

InstrumentWindow::~InstrumentWindow() { form_.Cycle().SetBeforeClose(nullptr); }

bool InstrumentWindow::Idle() const { return link_->Idle(); }

std::string InstrumentWindow::What(uint8_t command) {
  const char *name = hart::CommandName(command);
  return "command " + std::to_string(command) + (*name ? std::string(" (") + name + ")" : std::string());
}

uint8_t InstrumentWindow::PollingAddress() const {
  return pollingAddress_.value_or(form_.StoredIdentity().QueriedAddress());
}

InstrumentWindow::Row *InstrumentWindow::RowOf(HartSettingId id) {
  for (Row &r : rows_)
    if (r.spec->id == id) return &r;
  return nullptr;
}

std::optional<std::vector<uint8_t>> InstrumentWindow::Request(uint8_t command, const std::vector<uint8_t> &data) {
  if (!instrument_) {
    Status(tr("Read the instrument first: its requests go to the address its identity gives."), true);
    return std::nullopt;
  }
  HartRequest request = BuildHartRequest(*instrument_, command, data);
  if (!request.problem.empty()) {
    Status(Sentence(request.problem), true);
    return std::nullopt;
  }
  return std::move(request.frame);
}

void InstrumentWindow::Status(const QString &text, bool trouble) {
  status_->setText(text);
  status_->setStyleSheet(trouble ? QStringLiteral("QLabel { color: #b00000; }") : QString());
}

// Read ----------------------------------------------------------------------------------------

void InstrumentWindow::Read() {
  const int chain = ++chain_;
  written_.clear();
  for (Row &r : rows_) SetMark(r, Mark::None, {});
  Status(tr("Reading the instrument at polling address %1...").arg(PollingAddress()));
  QueueRead(chain, [this] {
    Status(tr("Read at %1.").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))) + status_->text());
  });
  UpdateControls();
}

void InstrumentWindow::QueueRead(int chain, std::function<void()> after) {
  reading_.clear();
  const uint8_t address = PollingAddress();
  const auto frame = HartShortFrame(kRequestPreambles, hart::kPrimaryMaster, address, hart::kReadUniqueIdentifier);
  link_->Ask(frame, What(hart::kReadUniqueIdentifier) + " at polling address " + std::to_string(address),
             [this, chain, address, after](const HartAnswer &answer, const std::vector<uint8_t> &reply) {
               if (chain != chain_) return;
               if (answer.verdict != HartVerdict::Data)
                 return Status(tr("The instrument did not give its identity: %1.").arg(Q(answer.Reason())), true);
               const int held = static_cast<int>(answer.length) - 1;  // the frame without its checksum
               const auto identity =
                   ReadIdentityReply(reply.data() + answer.start, std::min(held, kReplyTextMax), held);
               if (!identity) return Status(tr("The reply to command 0 is too short for an identity."), true);
               instrument_ = *identity;
               pollingAddress_ = address;
               TakeIdentity(*identity, answer.data, address, &reading_);
               ShowIdentity();
               auto trouble = std::make_shared<QStringList>();
               for (const uint8_t command : HartSettingReads(identity->universalRevision)) {
                 const auto request = Request(command);
                 if (!request) continue;
                 link_->Ask(*request, What(command),
                            [this, chain, command, trouble](const HartAnswer &a, const std::vector<uint8_t> &) {
                              if (chain != chain_) return;
                              std::string problem;
                              if (a.verdict != HartVerdict::Data)
                                *trouble << tr(" %1 refused: %2.").arg(Q(What(command)), Q(a.Reason()));
                              else if (!TakeHartReply(command, a.data, &reading_, &problem))
                                *trouble << tr(" The reply to %1: %2.").arg(Q(What(command)), Q(problem));
                            });
               }
               QueueLoopCurrentRead(chain);
               link_->Then([this, chain, after, trouble] {
                 if (chain != chain_) return;
                 FinishRead();
                 Status(trouble->join(QString()), !trouble->isEmpty());
                 if (after) after();
               });
             });
}

void InstrumentWindow::FinishRead() {
  held_ = reading_;
  ShowValues(held_);
}

void InstrumentWindow::ShowIdentity() {
  const HartIdentity &id = instrument_->identity;
  identity_[0]->setText(QString::number(id.manufacturer));
  identity_[1]->setText(QString::number(id.deviceType));
  identity_[2]->setText(
      QString::number((uint32_t{id.deviceId[0]} << 16) | (uint32_t{id.deviceId[1]} << 8) | id.deviceId[2]));
  identity_[3]->setText(QString::number(instrument_->universalRevision));
}

void InstrumentWindow::ShowValues(const HartValues &values) {
  const uint8_t revision = instrument_ ? instrument_->universalRevision : 0;
  for (Row &r : rows_) {
    const bool available = HartSettingAvailable(*r.spec, revision);
    r.edit->setEnabled(available);
    const auto v = values.find(r.spec->name);
    r.edit->setText(v == values.end() ? QString() : Shown(*r.spec, v->second));
    if (!available)
      SetMark(r, Mark::Other, tr("needs universal revision %1").arg(LeastUniversalRevision(r.spec->writeCommand)));
    else if (v == values.end())
      SetMark(r, Mark::Other,
              r.spec->id == HartSettingId::ResponsePreambles ? tr("this revision tells it only when written")
                                                               : tr("not read"));
  }
}

void InstrumentWindow::SetMark(Row &row, Mark mark, const QString &text) {
  row.outcome->setText(text);
  row.outcome->setToolTip(text);
  const char *colour = mark == Mark::Written   ? "#1a7f1a"
                       : mark == Mark::Equal   ? "#505050"
                       : mark == Mark::Refused ? "#b00000"
                                               : "#8a5a00";
  row.outcome->setStyleSheet(mark == Mark::None ? QString() : QStringLiteral("QLabel { color: %1; }").arg(QLatin1String(colour)));
}

// Write ---------------------------------------------------------------------------------------

void InstrumentWindow::Write() {
  if (!instrument_) return Status(tr("Read the instrument first: a write sends what differs from what was read."), true);
  const uint8_t revision = instrument_->universalRevision;
  HartValues wanted;
  std::map<HartSettingId, std::string> typed;
  int refused = 0;
  for (Row &r : rows_) {
    SetMark(r, Mark::None, {});
    if (!HartSettingAvailable(*r.spec, revision)) continue;
    const auto held = held_.find(r.spec->name);
    const std::string text = r.edit->text().toStdString();
    if (held != held_.end() ? r.edit->text() == Shown(*r.spec, held->second) : text.empty()) continue;  // unchanged
    const HartValueCheck check = CheckHartValue(*r.spec, text);
    if (!check.value) {
      SetMark(r, Mark::Refused, BesideField(*r.spec, check.problem));
      ++refused;
      continue;
    }
    if (!check.note.empty()) SetMark(r, Mark::Other, BesideField(*r.spec, check.note));
    wanted[r.spec->name] = *check.value;
    typed[r.spec->id] = text;
  }
  if (refused > 0)
    return Status(refused == 1 ? tr("Nothing was written: a value cannot be written (beside its field).")
                               : tr("Nothing was written: %1 values cannot be written (beside their fields).").arg(refused),
                  true);
  if (wanted.empty()) return Status(tr("Nothing to write: no field differs from what was read."));

  const HartWritePlan plan = PlanHartWrites(held_, wanted, revision);
  if (!plan.problems.empty()) {
    QStringList unplaced;
    for (const std::string &problem : plan.problems) {
      const HartSettingSpec *spec = FindHartSetting(problem.substr(0, problem.find(':')));
      Row *row = spec ? RowOf(spec->id) : nullptr;
      if (row)
        SetMark(*row, Mark::Refused, BesideField(*spec, problem));
      else
        unplaced << Q(problem);
    }
    return Status(tr("Nothing was written. %1").arg(unplaced.join(QStringLiteral("; "))), true);
  }
  for (const HartSettingId id : plan.equal)
    if (Row *row = RowOf(id)) SetMark(*row, Mark::Equal, tr("equal: the instrument holds it"));
  if (plan.writes.empty()) return Status(tr("Nothing to write: the changed values are the ones the instrument holds."));

  const int chain = ++chain_;
  written_.clear();
  auto echoed = std::make_shared<HartValues>();
  for (const HartWrite &w : plan.writes) {
    const auto request = Request(w.command, w.data);
    if (!request) return;  // refused before anything was sent: nothing goes
    for (const HartSettingId id : w.carries) written_[id].typed = typed[id];
  }
  Status(tr("Writing..."));
  for (const HartWrite &w : plan.writes) {
    const auto request = Request(w.command, w.data);
    const std::vector<HartSettingId> carries = w.carries;
    const uint8_t command = w.command;
    link_->Ask(
        *request, What(command),
        [this, chain, carries, command, echoed](const HartAnswer &a, const std::vector<uint8_t> &) {
          if (chain != chain_) return;
          std::string problem;
          const bool taken = a.verdict == HartVerdict::Data && TakeHartReply(command, a.data, echoed.get(), &problem);
          for (const HartSettingId id : carries) {
            WriteResult &r = written_[id];
            r.taken = taken;
            if (a.verdict == HartVerdict::Refused)
              r.note = "refused: " + hart::ResponseCodeText(a.status, command);
            else if (a.verdict != HartVerdict::Data)
              r.note = "not written: " + a.Reason();
            else if (!taken)
              r.note = "the echo does not read: " + problem;
            else if (a.Warning())
              r.note = hart::ResponseCodeText(a.status, command);
          }
          if (taken && command == hart::kWritePollingAddress) {
            const auto address = echoed->find(HartSetting(HartSettingId::PollingAddress).name);
            if (address != echoed->end()) pollingAddress_ = static_cast<uint8_t>(std::stoi(address->second));
          }
        },
        [this, carries](const std::string &why) {
          for (const HartSettingId id : carries)
            if (Row *row = RowOf(id)) SetMark(*row, Mark::Other, tr("sent, no answer: Read to see what it holds"));
          (void)why;  // the status line tells it
        });
  }
  const std::vector<HartSettingId> equal = plan.equal;
  link_->Then([this, chain, wanted, equal, echoed] {
    if (chain != chain_) return;
    Status(tr("Reading back..."));
    QueueRead(chain, [this, wanted, equal, echoed] {
      // What the reads do not give back (the reply preambles before revision 6) is what the echo said.
      for (const auto &[name, value] : *echoed) held_.emplace(name, value);
      MarkWrites(wanted, equal);
    });
  });
  UpdateControls();
}

void InstrumentWindow::MarkWrites(const HartValues &wanted, const std::vector<HartSettingId> &equal) {
  int written = 0, notWritten = 0;
  for (const HartSettingId id : equal)
    if (Row *row = RowOf(id)) SetMark(*row, Mark::Equal, tr("equal: the instrument holds it"));
  for (const auto &[id, result] : written_) {
    Row *row = RowOf(id);
    if (!row) continue;
    const HartSettingSpec &spec = HartSetting(id);
    const auto held = held_.find(spec.name);
    if (held != held_.end()) row->edit->setText(Shown(spec, held->second));
    if (!result.taken) {
      ++notWritten;
      row->edit->setText(Q(result.typed));  // still wanted: a later Write sends it again
      SetMark(*row, result.note.rfind("refused", 0) == 0 ? Mark::Refused : Mark::Other, Q(result.note));
      continue;
    }
    const auto want = wanted.find(spec.name);
    if (held != held_.end() && want != wanted.end() && HartValueEqual(spec, want->second, held->second)) {
      ++written;
      SetMark(*row, Mark::Written, result.note.empty() ? tr("written") : tr("written (%1)").arg(Q(result.note)));
    } else {
      ++notWritten;
      const QString holds = held == held_.end() ? tr("nothing read back") : tr("the instrument holds %1").arg(Q(held->second));
      SetMark(*row, Mark::Other,
              result.note.empty() ? tr("taken, but %1").arg(holds) : tr("taken (%1), but %2").arg(Q(result.note), holds));
    }
  }
  const QString counts = tr("Written and read back: %1 written, %2 equal, %3 not written.")
                             .arg(written)
                             .arg(static_cast<int>(equal.size()))
                             .arg(notWritten);
  Status(counts + status_->text(), notWritten > 0 || !status_->text().isEmpty());
}

// Loop test -----------------------------------------------------------------------------------

void InstrumentWindow::FixCurrent(double milliamperes) {
  if (milliamperes == static_cast<double>(hart::kLeaveFixedCurrent)) return EndTest();
  const HartRequestData data = FixedCurrentRequest(milliamperes);
  if (!data.problem.empty()) return Status(Sentence(data.problem), true);
  const auto request = Request(hart::kEnterExitFixedCurrent, data.data);
  if (!request) return;
  const int chain = ++chain_;
  link_->DropQueued();
  Status(tr("Fixing the loop current at %1...").arg(Milliamperes(static_cast<float>(milliamperes))));
  link_->Ask(
      *request, What(hart::kEnterExitFixedCurrent),
      [this](const HartAnswer &a, const std::vector<uint8_t> &) {
        // What the instrument says of its current counts, whichever chain asked.
        if (a.verdict != HartVerdict::Data)
          return Status(tr("The loop current was not fixed: %1 refused: %2.")
                            .arg(Q(What(hart::kEnterExitFixedCurrent)), Q(hart::ResponseCodeText(a.status, hart::kEnterExitFixedCurrent))),
                        true);
        std::string problem;
        const auto held = ParseFixedCurrent(a.data, &problem);
        if (!held) {
          loop_ = Loop::MayBeFixed;
          loopWhy_ = "the instrument's answer does not read: " + problem;
        } else if (*held == hart::kLeaveFixedCurrent) {
          loop_ = Loop::Following;
        } else {
          loop_ = Loop::Fixed;
          fixedAt_ = *held;
          Status(tr("The loop current is fixed at %1.").arg(Milliamperes(*held)));
        }
        ShowLoop();
      },
      [this, asked = static_cast<float>(milliamperes)](const std::string &why) {
        // It may have been taken before the answer was lost.
        if (loop_ == Loop::Following) fixedAt_ = asked;
        loop_ = Loop::MayBeFixed;
        loopWhy_ = why;
        ShowLoop();
      });
  QueueLoopCurrentRead(chain);
  UpdateControls();
}

void InstrumentWindow::EndTest() {
  const int chain = ++chain_;
  link_->DropQueued();
  QueueLeave();
  QueueLoopCurrentRead(chain);
  UpdateControls();
}

void InstrumentWindow::QueueLeave() {
  const HartRequestData data = FixedCurrentRequest(hart::kLeaveFixedCurrent);
  const auto request = Request(hart::kEnterExitFixedCurrent, data.data);
  if (!request) return;
  Status(tr("Leaving fixed current mode..."));
  link_->Ask(
      *request, What(hart::kEnterExitFixedCurrent),
      [this](const HartAnswer &a, const std::vector<uint8_t> &) {
        std::string problem;
        const auto held = a.verdict == HartVerdict::Data ? ParseFixedCurrent(a.data, &problem) : std::nullopt;
        if (held && *held == hart::kLeaveFixedCurrent) {
          loop_ = Loop::Following;
          loopWhy_.clear();
          Status(tr("Fixed current mode left: the loop current follows the process."));
        } else {
          loop_ = Loop::MayBeFixed;
          loopWhy_ = a.verdict != HartVerdict::Data ? "leaving it was refused: " + hart::ResponseCodeText(a.status, hart::kEnterExitFixedCurrent)
                     : held ? "the instrument answered with " + HartFloatText(*held) + " mA"
                            : "the instrument's answer does not read: " + problem;
        }
        ShowLoop();
      },
      [this](const std::string &why) {
        loop_ = Loop::MayBeFixed;
        loopWhy_ = why;
        ShowLoop();
      });
}

void InstrumentWindow::QueueLoopCurrentRead(int chain) {
  const auto request = Request(hart::kReadLoopCurrentAndPercent);
  if (!request) return;
  link_->Ask(*request, What(hart::kReadLoopCurrentAndPercent),
             [this, chain](const HartAnswer &a, const std::vector<uint8_t> &) {
               if (chain != chain_) return;
               if (a.verdict != HartVerdict::Data) return reported_->setText(tr("refused: %1").arg(Q(a.Reason())));
               std::string problem;
               const auto loop = ParseLoopCurrent(a.data, &problem);
               const QLocale locale;
               reported_->setText(loop ? tr("%1 mA, %2 % of range")
                                             .arg(locale.toString(loop->milliamperes, 'f', 3),
                                                  locale.toString(loop->percentOfRange, 'f', 1))
                                       : Q(problem));
             });
}

void InstrumentWindow::PortClosing() {
  ++chain_;
  link_->DropQueued();
  if (loop_ == Loop::Following) return;
  // The request on the line first, then the one that leaves fixed current mode, both answered
  // before the port goes.
  link_->WaitUntilIdle(HartLink::kReplyTimeoutMs + 500);
  QueueLeave();
  const bool answered =
      link_->WaitUntilIdle(HartLink::kLineWaitMs + (HartLink::kBusyRetries + 1) * (HartLink::kReplyTimeoutMs + HartLink::kBusyPauseMs));
  if (!answered) link_->DropQueued();
  if (loop_ != Loop::Following && loopWhy_.empty())
    loopWhy_ = "the port closed before the instrument confirmed leaving fixed current mode";
  ShowLoop();
}

void InstrumentWindow::closeEvent(QCloseEvent *event) {
  // The test ends with the window: whatever was under way stops, and fixed current mode is left.
  ++chain_;
  link_->DropQueued();
  if (loop_ != Loop::Following) QueueLeave();
  QWidget::closeEvent(event);
}

// Lamps, banner, controls ---------------------------------------------------------------------

void InstrumentWindow::ShowDeviceStatus(uint8_t status) {
  deviceStatus_ = status;
  for (size_t bit = 0; bit < lamps_.size(); ++bit) {
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    const bool lit = (status & mask) != 0;
    lamps_[bit]->setProperty("lit", lit);
    lamps_[bit]->setStyleSheet(QLatin1String(!lit ? kLampOff : mask == hart::kDeviceMalfunction ? kLampAlarm : kLampOn));
  }
  ShowLoop();
}

void InstrumentWindow::ShowLoop() {
  const bool statusSaysFixed = deviceStatus_ && (*deviceStatus_ & hart::kLoopCurrentFixed);
  QString text;
  if (loop_ == Loop::Fixed)
    text = tr("Loop current is fixed at %1: the output does not follow the process until the test ends.")
               .arg(Milliamperes(fixedAt_));
  else if (loop_ == Loop::MayBeFixed)
    text = tr("The loop current may still be fixed%1: %2. With the port open, press \"End test\".")
               .arg(fixedAt_ != 0 ? tr(" at %1").arg(Milliamperes(fixedAt_)) : QString(), Q(loopWhy_));
  else if (statusSaysFixed)
    text = tr("Loop current is fixed: the instrument's device status says so.");
  banner_->setText(text);
  banner_->setVisible(!text.isEmpty());
  UpdateControls();
}

void InstrumentWindow::UpdateControls() {
  const bool idle = link_->Idle();
  const bool known = instrument_.has_value();
  read_->setEnabled(idle);
  write_->setEnabled(idle && known);
  for (QPushButton *b : loopButtons_) b->setEnabled(idle && known);
  loopValue_->setEnabled(known);
  const bool statusSaysFixed = deviceStatus_ && (*deviceStatus_ & hart::kLoopCurrentFixed);
  endTest_->setEnabled(known && (loop_ != Loop::Following || statusSaysFixed));
}
