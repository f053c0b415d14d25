// Choosing the port, its baud rate and parity, and opening or closing it.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>

#include "app/main_window.h"
#include "serial/sim_ports.h"
#include "ui_main_window.h"

void TForm1::FillPortList() {
  // COM1..COM12 come from the layout and keep their positions; devices found now follow.
  QStringList found;
  for (const QFileInfo &f : QDir(QStringLiteral("/dev/serial/by-id")).entryInfoList(QDir::System | QDir::Files, QDir::Name))
    found << f.absoluteFilePath();
  for (const QFileInfo &f : QDir(QStringLiteral("/dev")).entryInfoList(
           {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System, QDir::Name))
    found << f.absoluteFilePath();
  for (const std::string &path : ListSimulatedPorts()) found << QString::fromStdString(path);
  for (const QString &path : found)
    if (ui_->SPREALCOM->findText(path) < 0) ui_->SPREALCOM->addItem(path);
}

void TForm1::Button1Click() {
  if (PortOpen == 1) {
    PortOpen = 0;
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
  PortOpen = 1;
  ui_->Button1->setText(QStringLiteral("Close"));
  ui_->Button6->setEnabled(true);
}
