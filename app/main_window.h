// TForm1: the program's one window. It owns every control (from main_window.ui), the serial port
// Comm1, the request cycle shared by all pages (with Timer2 and Timer3), Timer4 and Timer5.
// Handlers are named after the control and event they serve; the pages' handlers live in pages/*.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/error_display.h"
#include "app/hart_identity_store.h"
#include "app/line_log.h"
#include "app/request_cycle.h"
#include "app/ttimer.h"
#include "serial/tcomm.h"

namespace Ui {
class TForm1;
}

class InstrumentWindow;
class MonitorWindow;
class QComboBox;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  Ui::TForm1 *ui() const { return ui_.get(); }
  TComm *Comm1() const { return comm1_.get(); }
  // The request state every page shares, and the one way others send through it.
  RequestCycle &Cycle() { return cycle_; }
  const RequestCycle &Cycle() const { return cycle_; }
  // The HART instrument the requests of the "Transparent Mode" page are addressed to.
  const HartIdentityStore &StoredIdentity() const { return hartIdentity_; }

  // Everything written to and received from the line since start, and the trend's samples.
  LineLog &Traffic() { return *traffic_; }
  // Writes a request to the port; what was written goes into the traffic too. False when the port
  // took nothing (closed, or gone).
  bool WriteToLine(const uint8_t *bytes, size_t count);
  // The monitor window, built the first time it is opened ("Monitor..." or Ctrl+M).
  void ShowMonitor();
  MonitorWindow *Monitor() const { return monitor_.get(); }
  // The instrument window, built the first time it is opened ("Instrument..." on the
  // "Transparent Mode" page).
  void ShowInstrument();
  InstrumentWindow *Instrument() const { return instrument_.get(); }

  // Serial devices under devRoot ("/dev"): each /dev/serial/by-id link, then each ttyUSB* and
  // ttyACM* that no by-id link already names.
  static QStringList FoundSerialDevices(const QString &devRoot = QStringLiteral("/dev"));

  // The HART requests, which the fuzz target of what they send runs directly (it checks what they
  // throw); every other handler is reached through its control.
  void Button20Click();
  void Button7Click();
  void Button16Click();
  void Button14Click();

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  // Window
  void FormCreate();
  void Label74DblClick();
  void PageControl1Change();

  // Request cycle
  void Comm1ReceiveData(TComm *sender, const uint8_t *buffer, uint16_t bufferLength);
  void Timer2Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Button26Click();
  // Runs the handler that sends what another part of the program asked the cycle for.
  void SendRequest(RequestCycle::Request request);

  // Port selection and opening
  void Button1Click();

  // "System Parameters" page
  void Button6Click();
  void Button23Click();
  void Button29Click();
  void Button24Click();
  void Button15Click();
  void Button27Click();
  void Button9Click();
  void Button30Click();
  void Edit14Change();
  void AD1SETClick();
  void Button5Click();
  void PButton52Click();
  void Button3Click();
  void Button11Click();
  void Button60Click();
  void Button8Click();
  // Key filters: set `key` to 0 to drop the typed character.
  void AD1HKeyPress(char &key);
  void AD1LKeyPress(char &key);
  void AD1LDKeyPress(char &key);
  void Edit2KeyPress(char &key);
  void PUSET3KeyPress(char &key);
  void PUSET1XIAOKeyPress(char &key);
  void Edit3KeyPress(char &key);

  // "Transparent Mode" page (its requests are public, above)
  void ComboBox30Change();

  // "MODBUS Parameter Configuration" page
  void Button31Click();
  void ComboBox41Change();
  void Button10Click();
  void Button21Click();
  void Button22Click();
  void Button2Click();
  void ComboBox17Change();
  void Button17Click();
  void Button18Click();
  void Button12Click();
  void Button4Click();
  void Button13Click();

  // Reply parsers called by the Timer2 dispatch (defined with their pages).
  void ParseCommunicationReply();    // Pending::CommunicationCheck
  void ParseSystemParameterReply();  // Pending::SystemParameters
  void ParseIdentityReply();         // Pending::HartIdentity
  void ParseDynamicVariableReply();  // Pending::HartDynamicVariables
  void ParseModbusParameterReply();  // Pending::ModbusParameters

  // A handler that runs through the general error display.
  std::function<void()> Guarded(void (TForm1::*handler)()) {
    return [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); };
  }
  // Connects a widget signal to a handler.
  template <typename Sender, typename Signal>
  void Bind(Sender *sender, Signal signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, Guarded(handler));
  }
  void ConnectWindowHandlers();
  bool SystemPageFilterTyping(QObject *watched, QEvent *event);
  // "QQS#MD:" with the working mode chosen in `modes`: the system page and the MODBUS page both send it.
  void SendWorkingMode(const QComboBox *modes, const QString &field);
  void ConnectSystemPage();
  void ConnectHartPage();
  void ConnectModbusPage();
  void FillPortList();
  void WatchPortListDropDown();  // rebuilds the port list each time it is dropped down
  void ShowPictures();

  std::unique_ptr<Ui::TForm1> ui_;
  std::unique_ptr<TComm> comm1_;
  RequestCycle cycle_;  // Timer2 and Timer3 with it
  HartIdentityStore hartIdentity_;
  TTimer Timer4;  // closes the port after the serial-settings command
  TTimer Timer5;  // enabled at start-up; has no handler
  LineLog *traffic_;
  std::unique_ptr<MonitorWindow> monitor_;  // near the end: it goes early, while the window still stands
  std::unique_ptr<InstrumentWindow> instrument_;  // last: it goes first
};
