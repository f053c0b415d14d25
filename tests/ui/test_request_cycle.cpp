// The request cycle driven through the window, with a pseudo-terminal as the module.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "app/frame_writer.h"
#include "app/main_window.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// Sends a frame as a request with the given codes.
void Request(TForm1 &form, const std::string &frame, int32_t pending, int32_t kind) {
  FrameWriter(form).Text(frame).SendAsText(static_cast<Pending::Code>(pending), static_cast<Timeout::Kind>(kind));
}

TEST(RequestCycle, RoutesEachDeliveryByThePendingCode) {
  OpenWindow w;
  TForm1 &form = *w.form;
  const auto reply = Bytes({0x06, 0x00, 0x41});

  // Shown in hexadecimal; the code stays pending.
  SetPending(form, 104);
  Timer(form, "Timer3")->start();
  w.peer->Write(reply);
  EXPECT_EQ(WaitForReceiveBox(form), "06 00 41 ");
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  EXPECT_EQ(form.Cycle().PendingReply(), 104);
  EXPECT_EQ(form.Cycle().ReplyText(), QByteArray("\x06\x00\x41", 3));

  // A setting's acknowledgement is shown as text and ends the wait.
  Click(&form, "Button26");
  SetPending(form, 200);
  Timer(form, "Timer3")->start();
  w.peer->Write(reply);
  EXPECT_EQ(WaitForReceiveBox(form), QString::fromLatin1("\x06\x00\x41", 3));
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  EXPECT_EQ(form.Cycle().PendingReply(), 0);

  // Nothing pending: shown as text, nothing else changes.
  Click(&form, "Button26");
  SetTimeoutKind(form, 2);
  w.peer->Write("OK#");
  EXPECT_EQ(WaitForReceiveBox(form), "OK#");
  EXPECT_EQ(form.Cycle().PendingReply(), 0);
  EXPECT_EQ(form.Cycle().TimeoutKind(), 2);
  EXPECT_FALSE(Timer(form, "Timer2")->isActive());

  // Parsed replies arm the parse timer, which stops itself 300 ms later.
  for (int code : {100, 103, 201, 202, 301}) {
    Click(&form, "Button26");
    SetCodes(form, code, 1);
    w.peer->Write("QQ#");
    WaitForReceiveBox(form);
    EXPECT_TRUE(Timer(form, "Timer2")->isActive()) << code;
    EXPECT_TRUE(WaitUntil([&] { return !Timer(form, "Timer2")->isActive(); }, 1000)) << code;
    // 100, 103 and 201 are done after their parse; 202 and 301 stay pending.
    const int32_t after = (code == 202 || code == 301) ? code : 0;
    EXPECT_EQ(form.Cycle().PendingReply(), after) << code;
    EXPECT_EQ(form.Cycle().TimeoutKind(), code == 201 ? 0 : 1) << code;
  }
}

TEST(RequestCycle, LongDeliveriesAreCutToTheirAreas) {
  OpenWindow w;
  TForm1 &form = *w.form;
  std::vector<uint8_t> burst(300);
  for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7 + 1);

  SetPending(form, 100);
  w.peer->Write(burst);
  QString hex = WaitForReceiveBox(form);
  EXPECT_EQ(form.Cycle().ReplyText().size(), 255);
  EXPECT_EQ(hex.size(), 255 * 3);
  EXPECT_TRUE(hex.startsWith("01 08 0F "));

  // A delivery of 2000 bytes: the receive area keeps its 404 bytes, the text its 255.
  Click(&form, "Button26");
  SetPending(form, 0);
  std::vector<uint8_t> big(2000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 251);
  w.peer->Write(big);
  WaitForReceiveBox(form);
  EXPECT_EQ(form.Cycle().ReplyText().size(), 255);
  const ReplyView copy = form.Cycle().Reply();
  EXPECT_EQ(copy.Held(), ReplyView::kRoom);
  EXPECT_EQ(0, std::memcmp(copy.Data(), big.data(), ReplyView::kRoom));
}

TEST(RequestCycle, RequestGoesOutAsShownAndReplyWaitsForTheLineToFallSilent) {
  OpenWindow w;
  TForm1 &form = *w.form;
  Request(form, "QQQ#QV#", 201, 1);
  EXPECT_EQ(Text(&form, "Edit8"), "QQQ#QV#");
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QV#");
  EXPECT_TRUE(Timer(form, "Timer3")->isActive());
  EXPECT_EQ(Timer(form, "Timer3")->interval(), 3000);

  QElapsedTimer t;
  w.peer->Write("QV:1#");
  t.start();
  WaitForReceiveBox(form);
  // 100 ms of silence end the delivery, then the receive handler waits 300 ms.
  EXPECT_GE(t.elapsed(), 390);
  EXPECT_LT(t.elapsed(), 900);
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
}

TEST(RequestCycle, TimeoutReportsFollowTheKind) {
  auto form = std::make_unique<TForm1>();
  MessageCatcher catcher;
  auto *label68 = Find<QLabel>(form.get(), "Label68");

  // Before any handler set the interval, Timer3 runs its stored 1000 ms.
  SetTimeoutKind(*form, 1);
  QElapsedTimer t;
  t.start();
  Timer(*form, "Timer3")->start();
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_NEAR(t.elapsed(), 1000, 150);
  EXPECT_EQ(catcher.Messages()[0].text, "Connection timeout!");
  EXPECT_EQ(catcher.Messages()[0].title, "RQ735");
  EXPECT_FALSE(Timer(*form, "Timer3")->isActive());

  // After a request set it, 3000 ms; a query time-out empties Label68.
  catcher.Clear();
  t.restart();
  Request(*form, "QQQ#QX#", 202, 2);
  ASSERT_TRUE(catcher.WaitForCount(1, 4000));
  EXPECT_NEAR(t.elapsed(), 3000, 200);
  EXPECT_EQ(catcher.Messages()[0].text, "Parameter query timeout!");
  EXPECT_EQ(label68->text(), "");
  EXPECT_EQ(form->Cycle().PendingReply(), 202) << "a time-out leaves the code pending";

  // A setting time-out marks Label68 and shows "!". A second request 2 s into a running period
  // does not restart it: its time-out comes 1 s later.
  catcher.Clear();
  t.restart();
  Request(*form, "QQS#XY:0#", 200, 3);
  Pump(2000);
  Request(*form, "QQS#XY:1#", 200, 3);
  ASSERT_TRUE(catcher.WaitForCount(1, 4000));
  EXPECT_NEAR(t.elapsed(), 3000, 200);
  EXPECT_EQ(catcher.Messages()[0].text, "!");
  EXPECT_EQ(label68->text(), "Set timeout!");

  // Kind 0 (left by an answered communication query) shows nothing.
  catcher.Clear();
  SetTimeoutKind(*form, 0);
  Timer(*form, "Timer3")->start();
  EXPECT_TRUE(WaitUntil([&] { return !Timer(*form, "Timer3")->isActive(); }, 4000));
  Pump(50);
  EXPECT_TRUE(catcher.Messages().empty());
}

TEST(RequestCycle, ClearBufferEmptiesOnlyTheReceiveBox) {
  TForm1 form;
  Request(form, "QQS#RESET#", 200, 3);
  auto *memo = Find<QPlainTextEdit>(&form, "Memo10");
  memo->setPlainText("reply");
  Click(&form, "Button26");
  EXPECT_EQ(memo->toPlainText(), "");
  EXPECT_EQ(Text(&form, "Edit8"), "QQS#RESET#");
  EXPECT_EQ(form.Cycle().PendingReply(), 200);
  EXPECT_EQ(form.Cycle().TimeoutKind(), 3);
  EXPECT_TRUE(Timer(form, "Timer3")->isActive());
}

TEST(RequestCycle, OthersSendOnlyWhenThePortIsOpenAndNothingWaits) {
  OpenWindow w;
  TForm1 &form = *w.form;
  RequestCycle &cycle = form.Cycle();
  MessageCatcher catcher;
  const auto poll = RequestCycle::Request::DynamicVariables;

  // A query waits for its answer, then for its parse: nothing else goes out meanwhile.
  Request(form, "QQQ#QX#", 202, 2);
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QX#");
  EXPECT_FALSE(cycle.Send(poll));
  w.peer->Write("QX#");
  WaitForReceiveBox(form);
  EXPECT_TRUE(cycle.Waiting()) << "its parse is due";
  EXPECT_FALSE(cycle.Send(poll));
  ASSERT_TRUE(WaitUntil([&] { return !cycle.Waiting(); }, 1000));

  // Nothing waits: command 3 goes out as "HART Command Query" sends it, and its reply is awaited.
  ASSERT_TRUE(cycle.Send(poll));
  const auto sent = w.peer->Read();
  ASSERT_EQ(sent.size(), 16u);
  EXPECT_EQ(sent[13], 0x03);
  EXPECT_EQ(cycle.PendingReply(), Pending::HartDynamicVariables);
  EXPECT_TRUE(cycle.Waiting());
  Timer(form, "Timer3")->stop();

  // What the handler refuses is told by the general error display.
  SetText(&form, "Edit9", "x");
  EXPECT_TRUE(cycle.Send(poll));
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_EQ(catcher.Messages()[0].text, "'x' is not a valid integer value.");
  EXPECT_EQ(catcher.Messages()[0].icon, QMessageBox::Critical);

  // The port is closed: the handler does not run, so nothing is armed either.
  SetText(&form, "Edit9", "6");
  Click(&form, "Button1");
  EXPECT_FALSE(cycle.Send(poll));
  EXPECT_FALSE(cycle.Waiting());
}

// The instrument window's exchanges hear of a port that went away at once, and the cycle sends
// none of them into a dead port until it is opened again.
TEST(RequestCycle, AHangUpEndsTheOpenExchangeAndHoldsFramesBackUntilThePortOpensAgain) {
  OpenWindow w;
  TForm1 &form = *w.form;
  RequestCycle &cycle = form.Cycle();
  const std::vector<uint8_t> frame = Bytes({0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82});
  std::vector<RequestCycle::ExchangeEnd> ends;
  auto exchange = [&] {
    return RequestCycle::Exchange{[](const uint8_t *, size_t) { return false; },
                                  [&](RequestCycle::ExchangeEnd how) { ends.push_back(how); }};
  };
  ASSERT_EQ(cycle.SendFrame(frame, 5000, exchange()), RequestCycle::SendResult::Sent);
  EXPECT_EQ(w.peer->Read(), frame);

  w.peer->HangUp();
  ASSERT_TRUE(WaitUntil([&] { return !ends.empty(); }, 2000)) << "not left to the 5 s limit";
  EXPECT_EQ(ends, std::vector<RequestCycle::ExchangeEnd>{RequestCycle::ExchangeEnd::LineLost});
  EXPECT_EQ(cycle.LostReason(), "the adapter was unplugged (EIO)");
  EXPECT_EQ(cycle.SendFrame(frame, 5000, exchange()), RequestCycle::SendResult::LineLost);
  EXPECT_TRUE(cycle.PortOpen()) << "the user's port stays open until the user closes it";

  Click(&form, "Button1");
  PtyPeer again;
  TypeInto(Find<QComboBox>(&form, "SPREALCOM"), QString::fromStdString(again.SlavePath()));
  Click(&form, "Button1");
  ASSERT_TRUE(cycle.PortOpen());
  EXPECT_TRUE(cycle.LostReason().empty());
  ASSERT_EQ(cycle.SendFrame(frame, 5000, exchange()), RequestCycle::SendResult::Sent);
  EXPECT_EQ(again.Read(), frame);
  cycle.DropExchange();
}

TEST(RequestCycle, Timer4ClosesThePortAfterTheSerialSettingsCommand) {
  OpenWindow w;
  TForm1 &form = *w.form;
  QElapsedTimer t;
  t.start();
  Timer(form, "Timer4")->setInterval(2000);
  Timer(form, "Timer4")->start();
  ASSERT_TRUE(WaitUntil([&] { return !form.Cycle().PortOpen(); }, 3000));
  EXPECT_NEAR(t.elapsed(), 2000, 150);
  EXPECT_FALSE(Timer(form, "Timer4")->isActive());
  EXPECT_FALSE(form.Comm1()->IsOpen());
  EXPECT_EQ(Text(&form, "Button1"), "Open");
  EXPECT_FALSE(Find<QPushButton>(&form, "Button6")->isEnabled());
}

TEST(PortOpening, OpensWithTheChosenSettingsAndClosesAgain) {
  TForm1 form;
  PtyPeer peer;
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  EXPECT_EQ(form.Comm1()->CommName(), "COM2");

  TypeInto(port, QString::fromStdString(peer.SlavePath()));
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  TComm *comm = form.Comm1();
  EXPECT_TRUE(comm->IsOpen());
  EXPECT_EQ(comm->CommName(), QString::fromStdString(peer.SlavePath()));
  EXPECT_EQ(comm->BaudRate(), 9600u);
  EXPECT_EQ(comm->Parity(), TParity::None);
  EXPECT_EQ(comm->DtrControl(), TDtrControl::DtrDisable);
  EXPECT_EQ(comm->RtsControl(), TRtsControl::RtsDisable);
  EXPECT_FALSE(comm->Outx_XonXoffFlow());
  EXPECT_FALSE(comm->Inx_XonXoffFlow());
  EXPECT_EQ(Text(&form, "Button1"), "Close");
  EXPECT_TRUE(Find<QPushButton>(&form, "Button6")->isEnabled());

  // Check boxes changed while open take effect only at the next opening.
  Find<QCheckBox>(&form, "CheckBox1")->setChecked(true);
  Find<QCheckBox>(&form, "CheckBox2")->setChecked(true);
  EXPECT_EQ(comm->RtsControl(), TRtsControl::RtsDisable);

  Click(&form, "Button1");
  EXPECT_FALSE(form.Cycle().PortOpen());
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_EQ(Text(&form, "Button1"), "Open");
  EXPECT_FALSE(Find<QPushButton>(&form, "Button6")->isEnabled());

  // "15200" has no standard constant; the port still opens at that rate, with odd parity.
  Pick(&form, "ComboBox11", 7);
  Pick(&form, "ComboBox10", 1);
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  EXPECT_EQ(comm->BaudRate(), 15200u);
  EXPECT_EQ(comm->Parity(), TParity::Odd);
  EXPECT_EQ(comm->RtsControl(), TRtsControl::RtsEnable);
  EXPECT_EQ(comm->DtrControl(), TDtrControl::DtrEnable);
}

TEST(PortOpening, FailuresAreShownAndLeaveThePortClosed) {
  TForm1 form;
  MessageCatcher catcher;
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  auto *baud = Find<QComboBox>(&form, "ComboBox11");

  struct Case {
    QString port;
    QString baud;
    QString message;
    QString reason;  // a part of the informative text; none when empty
  };
  const std::string file = ::testing::TempDir() + "rq735-not-a-port";
  std::ofstream(file) << "x";
  PtyPeer peer;
  const QString pty = QString::fromStdString(peer.SlavePath());
  const Case cases[] = {
      {"/dev/rq735-no-such-device", "9600", "Error opening serial port.",
       "There is no /dev/rq735-no-such-device: the adapter is not plugged in, or the port name is wrong."},
      {QString::fromStdString(file), "9600", "File handle is not a comm handle ", "is not a serial port."},
      {pty, "96OO", "'96OO' is not a valid integer value.", ""},
      {pty, "", "'' is not a valid integer value.", ""},
      {pty, "0", "Baud Rate: 0 is not a baud rate; the port stays closed.", ""},
  };
  for (const Case &c : cases) {
    catcher.Clear();
    TypeInto(port, c.port);
    TypeInto(baud, c.baud);
    Click(&form, "Button1");
    ASSERT_TRUE(catcher.WaitForCount(1)) << c.message.toStdString();
    const Message &shown = catcher.Messages()[0];
    EXPECT_EQ(shown.text, c.message);
    EXPECT_EQ(shown.title, "RQ735");
    EXPECT_EQ(shown.icon, QMessageBox::Critical);
    if (c.reason.isEmpty())
      EXPECT_EQ(shown.informative, "");
    else
      EXPECT_TRUE(shown.informative.contains(c.reason)) << shown.informative.toStdString();
    EXPECT_FALSE(form.Cycle().PortOpen());
    EXPECT_FALSE(form.Comm1()->IsOpen());
    EXPECT_EQ(Text(&form, "Button1"), "Open");
  }

  // A parity typed instead of picked is refused before anything is opened.
  catcher.Clear();
  TypeInto(baud, "9600");
  TypeInto(Find<QComboBox>(&form, "ComboBox10"), "Space");
  Click(&form, "Button1");
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_TRUE(catcher.Messages()[0].text.startsWith("Parity:"));
  EXPECT_FALSE(form.Cycle().PortOpen());
}

// Root opens what an ordinary user may not: a port another program holds exclusively, a device
// whose modes forbid it. While this lives, the calling thread (the window's) opens files with an
// ordinary user's rights: without the capabilities that pass over file modes and exclusive use.
class OrdinaryUserOpens {
 public:
  OrdinaryUserOpens() {
    if (geteuid() != 0) return;
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) {
      ADD_FAILURE() << "capget failed";
      return;
    }
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    for (int capability : {CAP_SYS_ADMIN, CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      lowered[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
    if (syscall(SYS_capset, &header_, lowered) != 0) {
      ADD_FAILURE() << "capset failed";
      return;
    }
    lowered_ = true;
  }
  ~OrdinaryUserOpens() {
    if (lowered_) syscall(SYS_capset, &header_, saved_);
  }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
};

TEST(PortOpening, BusyAndForbiddenPortsSayWhy) {
  TForm1 form;
  MessageCatcher catcher;
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  auto tryToOpen = [&](const QString &path) {
    catcher.Clear();
    TypeInto(port, path);
    OrdinaryUserOpens user;
    Click(&form, "Button1");
    EXPECT_FALSE(form.Cycle().PortOpen());
  };

  PtyPeer held;
  TComm holder;  // opens its port for exclusive use, as the program does
  holder.SetCommName(QString::fromStdString(held.SlavePath()));
  holder.OpenPort();
  tryToOpen(QString::fromStdString(held.SlavePath()));
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_EQ(catcher.Messages()[0].text, "Error opening serial port.");
  EXPECT_TRUE(catcher.Messages()[0].informative.contains("is busy: another program holds the port"))
      << catcher.Messages()[0].informative.toStdString();

  PtyPeer forbidden;
  ASSERT_EQ(chmod(forbidden.SlavePath().c_str(), 0), 0);
  tryToOpen(QString::fromStdString(forbidden.SlavePath()));
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_TRUE(catcher.Messages()[0].informative.contains("sudo usermod -aG dialout"))
      << catcher.Messages()[0].informative.toStdString();
}


}  // namespace
