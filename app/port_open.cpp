// Choosing the port, its baud rate and parity, and opening or closing it.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>

#include <functional>
#include <utility>

#include "app/conversions.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "serial/port_list.h"
#include "ui_main_window.h"

namespace {

constexpr int kFixedPorts = 12;  // "COM1" to "COM12", from the layout

// Calls `before` ahead of every mouse press or key that drops a combo box's list down, so the
// list can be rebuilt before the popup measures it.
class DropDownWatcher : public QObject {
 public:
  DropDownWatcher(QComboBox *combo, std::function<void()> before) : QObject(combo), before_(std::move(before)) {
    combo->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::MouseButtonPress) {
      if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) before_();
    } else if (event->type() == QEvent::KeyPress) {
      const auto *key = static_cast<QKeyEvent *>(event);
      const bool alt = key->modifiers() & Qt::AltModifier;
      if (key->key() == Qt::Key_F4 || (alt && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up))) before_();
    }
    return false;
  }

 private:
  std::function<void()> before_;
};

}  // namespace

QStringList TForm1::FoundSerialDevices(const QString &devRoot) { return PortNames(FoundAdapters(devRoot)); }

void TForm1::FillPortList() {
  // COM1..COM12 come from the layout and keep their positions; the devices and simulators found
  // now follow, replacing those found last time.
  const QStringList found = PortNames(FoundPorts());

  QComboBox *port = ui_->SPREALCOM;
  QStringList listed;
  for (int i = kFixedPorts; i < port->count(); ++i) listed << port->itemText(i);
  if (listed == found) return;

  // The user's choice or typed text survives the rebuild, also when its device has gone.
  const QString text = port->currentText();
  const int index = port->currentIndex();
  const QSignalBlocker quiet(port);
  while (port->count() > kFixedPorts) port->removeItem(port->count() - 1);
  port->addItems(found);
  port->setCurrentIndex(index >= 0 && index < kFixedPorts
                            ? index
                            : port->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
  if (port->currentText() != text) port->setEditText(text);
}

void TForm1::WatchPortListDropDown() {
  new DropDownWatcher(ui_->SPREALCOM, [this] { FillPortList(); });
}

void TForm1::Button1Click() {
  if (cycle_.PortOpen()) {
    cycle_.SetPortOpen(false);
    ui_->Button1->setText(QStringLiteral("Open"));
    ui_->Button6->setEnabled(false);
    comm1_->ClosePort();
    return;
  }

  comm1_->ClosePort();
  const int32_t baud = TextToIntOf(ui_->ComboBox11->currentText());
  // Zero would hang the line up, and a negative rate means nothing.
  if (baud <= 0)
    throw ERefused(QStringLiteral("Baud Rate: %1 is not a baud rate; the port stays closed").arg(baud).toStdString());
  comm1_->SetBaudRate(static_cast<uint32_t>(baud));
  const int parity = ItemIndex(ui_->ComboBox10);
  if (parity < 0)
    throw ERefused(QStringLiteral("Parity: pick None, Odd or Even from the list; the port stays closed").toStdString());
  comm1_->SetParity(static_cast<TParity>(parity));
  comm1_->SetCommName(ui_->SPREALCOM->currentText());
  comm1_->SetOutx_XonXoffFlow(false);
  comm1_->SetInx_XonXoffFlow(false);
  comm1_->OpenPort();
  comm1_->SetDtrControl(ui_->CheckBox2->isChecked() ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
  comm1_->SetRtsControl(ui_->CheckBox1->isChecked() ? TRtsControl::RtsEnable : TRtsControl::RtsDisable);
  cycle_.SetPortOpen(true);
  ui_->Button1->setText(QStringLiteral("Close"));
  ui_->Button6->setEnabled(true);
  if (comm1_->CommName().startsWith(QStringLiteral("tcp://")))
    ShowMessage(QStringLiteral("%1 carries bytes only: its line settings are the device server's own, not \"Baud "
                               "Rate\", \"Parity\", \"COM_RTS\" and \"COM_DTR\". Open it as rfc2217:// to set "
                               "them from here.")
                    .arg(comm1_->CommName()));
}
