#include "app/main_window.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>

#include "app/list_positions.h"
#include "app/screen_place.h"
#include "instrument/instrument_window.h"
#include "monitor/monitor_window.h"
#include "serial/open_failure.h"
#include "ui_main_window.h"

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TForm1>()),
      comm1_(std::make_unique<TComm>()),
      cycle_(this, {Guarded(&TForm1::Timer2Timer), Guarded(&TForm1::Timer3Timer),
                    [this](RequestCycle::Request request) { SendRequest(request); },
                    [this](const uint8_t *bytes, size_t count) { return WriteToLine(bytes, count); }}),
      hartIdentity_(cycle_.Scratch()),
      Timer4(this, "Timer4", 1000, Guarded(&TForm1::Timer4Timer)),
      Timer5(this, "Timer5", 1000, nullptr),
      traffic_(new LineLog(this)) {
  ui_->setupUi(this);
  // What the form file cannot say: the stored position, and unit lists without a selected item
  // that still show a text. A screen too small for the stored position gets the window whole.
  move(411, 174);
  if (const QScreen *s = screen()) move(PlaceInside(geometry(), s->availableGeometry()));
  for (QComboBox *c : {ui_->ComboBox3, ui_->ComboBox31, ui_->ComboBox32, ui_->ComboBox33})
    c->setEditText(QStringLiteral("inH20 "));

  // Stored values of Comm1 that differ from the component's own defaults.
  comm1_->SetCommName(QStringLiteral("COM2"));
  comm1_->SetDtrControl(TDtrControl::DtrDisable);
  comm1_->SetRtsControl(TRtsControl::RtsDisable);
  comm1_->SetOutx_XonXoffFlow(false);
  comm1_->SetInx_XonXoffFlow(false);
  comm1_->OnReceiveData = [this](TComm *sender, const uint8_t *buffer, uint16_t length) {
    RunHandler([&] { Comm1ReceiveData(sender, buffer, length); });
  };
  // The pages do not hear of it (their requests time out); the instrument window's exchange ends.
  comm1_->OnRequestHangup = [this](TComm *sender) { cycle_.LineLost(HangupReason(sender->HangupError())); };

  ShowPictures();
  FillPortList();
  WatchPortListDropDown();
  ConnectWindowHandlers();
  ConnectSystemPage();
  ConnectHartPage();
  ConnectModbusPage();
  FormCreate();
}

TForm1::~TForm1() {
  // The port closes with the window: what must be sent before it goes (the instrument window
  // leaving fixed current mode) goes now.
  if (cycle_.PortOpen()) cycle_.SetPortOpen(false);
}

bool TForm1::WriteToLine(const uint8_t *bytes, size_t count) {
  if (!comm1_->WriteData(bytes, static_cast<uint16_t>(count))) return false;
  traffic_->Record(LineDirection::Sent, bytes, count);
  return true;
}

void TForm1::ShowMonitor() {
  if (!monitor_) monitor_ = std::make_unique<MonitorWindow>(*this);
  monitor_->show();
  monitor_->raise();
  monitor_->activateWindow();
}

void TForm1::ShowInstrument() {
  if (!instrument_) instrument_ = std::make_unique<InstrumentWindow>(*this);
  instrument_->show();
  instrument_->raise();
  instrument_->activateWindow();
}

void TForm1::ConnectWindowHandlers() {
  Bind(ui_->PageControl1, &QTabWidget::currentChanged, &TForm1::PageControl1Change);
  Bind(ui_->Button1, &QPushButton::clicked, &TForm1::Button1Click);
  Bind(ui_->Button26, &QPushButton::clicked, &TForm1::Button26Click);
  Bind(ui_->MonitorButton, &QPushButton::clicked, &TForm1::ShowMonitor);
  Bind(ui_->InstrumentButton, &QPushButton::clicked, &TForm1::ShowInstrument);
  auto *monitorKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
  connect(monitorKey, &QShortcut::activated, this, Guarded(&TForm1::ShowMonitor));
  ui_->Label74->installEventFilter(this);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == ui_->Label74 && event->type() == QEvent::MouseButtonDblClick) {
    RunHandler([this] { Label74DblClick(); });
    return true;
  }
  if (SystemPageFilterTyping(watched, event)) return true;
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormCreate() {
  ui_->Button6->setEnabled(true);
  cycle_.Disarm();
  Timer4.SetEnabled(false);
  Timer5.SetEnabled(true);
  ui_->Edit1->clear();
  for (QComboBox *c : {ui_->ComboBox6, ui_->RADCOM1, ui_->RADCOM3, ui_->RADCOM5, ui_->RADCOM7, ui_->READLG1,
                       ui_->READLG3, ui_->READLG5, ui_->READLG7, ui_->FAMOUT1, ui_->FAMOUT3, ui_->FAMOUT5,
                       ui_->FAMOUT7, ui_->FAMOUT9})
    SetItemIndex(c, -1);
  ui_->GroupBox23->setVisible(false);
  for (QLineEdit *e : {ui_->READADR1, ui_->READADR3, ui_->READADR5, ui_->READADR7}) e->clear();
  SetItemIndex(ui_->ComboBox28, -1);
  SetItemIndex(ui_->ComboBox29, -1);
  ui_->Edit4->clear();
  ui_->Edit5->clear();
}

void TForm1::Label74DblClick() { ui_->GroupBox23->setVisible(true); }

void TForm1::PageControl1Change() {}
