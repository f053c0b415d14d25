// TForm1: the program's one window. It owns every control (from main_window.ui), the serial port
// Comm1, the timers Timer2 to Timer5 and the request state shared by all pages. Handlers are
// named after the control and event they serve; the pages' handlers live in pages/*.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/error_display.h"
#include "app/line_log.h"
#include "app/request_codes.h"
#include "app/ttimer.h"
#include "serial/tcomm.h"

namespace Ui {
class TForm1;
}

class MonitorWindow;
class QComboBox;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget *parent = nullptr);
  ~TForm1() override;

  // CommBuffer areas: 0-7 scratch kept by the HART pages, 8-511 the transmit frame,
  // 512-915 the copy of the last delivery.
  static constexpr int kCommBufferSize = 916;
  static constexpr int kFrameStart = 8;
  static constexpr int kFrameEnd = 512;  // one past the transmit frame
  static constexpr int kReplyStart = 512;
  static constexpr int kReplyRoom = kCommBufferSize - kReplyStart;  // 404
  static constexpr int kWorkingCopySize = 1024;
  static constexpr int kSettingTimeoutMs = 3000;
  static constexpr int kReceivePauseMs = 300;

  // Request state shared by every page; zero at start.
  uint8_t CommBuffer[kCommBufferSize] = {};
  int32_t PendingReply = Pending::Nothing;  // a Pending::Code
  int32_t TimeoutKind = Timeout::Silent;    // a Timeout::Kind
  QByteArray ReplyText;  // the last delivery, one character per byte, at most kReplyTextMax
  int ReplyHeld = 0;     // how many bytes of the last delivery the receive copy holds, at most 404
  uint8_t PortOpen = 0;

  Ui::TForm1 *ui() const { return ui_.get(); }
  TComm *Comm1() const { return comm1_.get(); }

  // Everything written to and received from the line since start, and the trend's samples.
  LineLog &Traffic() { return *traffic_; }
  // Writes a request to the port; what was written goes into the traffic too.
  void WriteToLine(const uint8_t *bytes, size_t count);
  // The monitor window, built the first time it is opened ("Monitor..." or Ctrl+M).
  void ShowMonitor();
  MonitorWindow *Monitor() const { return monitor_.get(); }

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

  // Port selection and opening
  void Button1Click();
  // Serial devices under devRoot ("/dev"): each /dev/serial/by-id link, then each ttyUSB* and
  // ttyACM* that no by-id link already names.
  static QStringList FoundSerialDevices(const QString &devRoot = QStringLiteral("/dev"));

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

  // "Transparent Mode" page
  void Button20Click();
  void Button7Click();
  void Button16Click();
  void Button14Click();
  void ComboBox30Change();
  // Of the stored identity of the last instrument that answered the identity query, the two
  // variables that do not live in CommBuffer (the rest is the HART page's business).
  uint8_t HartManufacturer = 0;
  uint8_t HartPreambleNeed = 0;

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

  // Sets the codes and arms Timer3 with the setting interval.
  void Await(Pending::Code awaited, Timeout::Kind report);

  TTimer Timer2;
  TTimer Timer3;
  TTimer Timer4;
  TTimer Timer5;

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
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
  uint8_t workingCopy_[kWorkingCopySize] = {};
  LineLog *traffic_;
  std::unique_ptr<MonitorWindow> monitor_;  // last: it goes first, while the window still stands
};
