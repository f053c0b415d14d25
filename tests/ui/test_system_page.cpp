// The "System Parameters" page driven as a user would, with a pseudo-terminal as the module.
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

struct Page : OpenWindow {
  MessageCatcher catcher;  // closes time-out reports of requests nobody answers
  TForm1 &f() { return *form; }

  // Clicks a button and returns what went out on the line.
  std::string Send(const char *button) {
    peer->Drain();
    Click(form.get(), button);
    return peer->ReadText(std::chrono::milliseconds(500), std::chrono::milliseconds(60));
  }
  // Answers the pending request and waits until the answer is handled (and parsed).
  void Answer(const std::string &reply) {
    auto *memo = Find<QPlainTextEdit>(form.get(), "Memo10");
    memo->clear();
    peer->Write(reply);
    ASSERT_TRUE(WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000)) << reply;
    ASSERT_TRUE(WaitUntil([&] { return !Timer(*form, "Timer2")->isActive(); }, 1000));
  }
  QComboBox *Combo(const char *name) { return Find<QComboBox>(form.get(), name); }
};

TEST(SystemPage, EachButtonSendsItsFrameByteForByte) {
  Page p;
  struct Case {
    const char *button;
    std::function<void()> setUp;
    std::string frame;
    int32_t pending;  // -1: unchanged
    int32_t kind;     // -1: unchanged
  };
  auto text = [&](const char *box, const char *value) { return [&p, box, value] { SetText(p.form.get(), box, value); }; };
  auto pick = [&](const char *box, int index) { return [&p, box, index] { Pick(p.form.get(), box, index); }; };
  const Case cases[] = {
      {"Button6", nullptr, "QQQ#QV#", 201, 1},
      {"Button23", nullptr, "QQQ#QX#", 202, 2},
      {"Button29", nullptr, "QQS#ADR:001#", 200, 3},
      {"Button29", text("Edit14", "1"), "QQS#ADR:001#", 200, 3},
      {"Button29", text("Edit14", "247"), "QQS#ADR:247#", 200, 3},
      {"Button29", text("Edit14", "$10"), "QQS#ADR:016#", 200, 3},
      {"Button24", nullptr, "QQS#MD:0#", 200, 3},
      {"Button24", pick("ComboBox7", 1), "QQS#MD:1#", 200, 3},
      {"Button15", pick("ComboBox12", 2), "QQS#XY:2#", 200, 3},
      {"Button27", nullptr, "QQS#JTM:010#", 200, 3},
      {"Button27", text("Edit6", "5"), "QQS#JTM:005#", 200, 3},
      {"Button30", nullptr, "QQS#RESET#", 200, 3},
      {"Button8", nullptr, "QQQ#QVAL#", 1001, 1},
      {"AD1SET", nullptr, "KORVEN#AIN1:,,#", 1001, -1},
      {"AD1SET",
       [&] {
         SetText(p.form.get(), "AD1H", "20.000");
         SetText(p.form.get(), "AD1L", "4.000");
         SetText(p.form.get(), "AD1LD", "0");
       },
       "KORVEN#AIN1:20.000,4.000,0#", 1001, -1},
      {"Button5", nullptr, "KORVEN#ZOM:0.000#", 1001, -1},
      {"PButton52", nullptr, "KORVEN#LPN:00000000#", 1001, -1},
      {"PButton52", text("PUSET3", "123"), "KORVEN#LPN:00000123#", 1001, -1},
      {"PButton52", text("PUSET3", "-1"), "KORVEN#LPN:4294967295#", 1001, -1},
      {"Button3", text("PUSET1XIAO", "5"), "KORVEN#LPF:5#", 1001, -1},
      {"Button11", nullptr, "KORVEN#ADX:10000#", 1001, -1},
      {"Button11", text("Edit3", "42"), "KORVEN#ADX:0042#", 1001, -1},
      {"Button60", text("PCBSN", "1234"), "KORVEN#PCBSN:00001234,001#", -1, -1},
      {"Button60", [&] { TypeInto(p.Combo("JIANZHI"), "101"); }, "KORVEN#PCBSN:00001234,101#", -1, -1},
      {"Button60", pick("JIANZHI", 6), "KORVEN#PCBSN:00001234,006#", -1, -1},
      {"Button60", text("PCBSN", "12345678"), "KORVEN#PCBSN:12345678,006#", -1, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.frame);
    if (c.setUp) c.setUp();
    SetCodes(p.f(), 7, 7);
    EXPECT_EQ(p.Send(c.button), c.frame);
    const bool asText = c.frame.rfind("QQ", 0) == 0 || c.pending != -1;
    if (asText || c.pending == -1) {
      EXPECT_EQ(Text(p.form.get(), "Edit8").toStdString(), c.frame);
    }
    EXPECT_EQ(p.f().Cycle().PendingReply(), c.pending == -1 ? 7 : c.pending);
    EXPECT_EQ(p.f().Cycle().TimeoutKind(), c.kind == -1 ? 7 : c.kind);
  }
}

TEST(SystemPage, WhatArmsTheReplyTimeout) {
  Page p;
  auto &f = p.f();
  auto *memo = Find<QPlainTextEdit>(p.form.get(), "Memo10");
  struct Case {
    const char *button;
    bool arms;
    bool emptiesMemo;
  } cases[] = {
      {"Button29", true, true},  {"Button8", true, true},   {"AD1SET", false, true},  {"Button5", true, true},
      {"PButton52", false, true}, {"Button3", true, true},  {"Button11", false, true}, {"Button60", false, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.button);
    Timer(f, "Timer3")->stop();
    memo->setPlainText("old reply");
    p.Send(c.button);
    EXPECT_EQ(Timer(f, "Timer3")->isActive(), c.arms);
    EXPECT_EQ(memo->toPlainText().isEmpty(), c.emptiesMemo);
  }
  Timer(f, "Timer3")->stop();
}

TEST(SystemPage, RefusedValuesSendNothing) {
  Page p;
  auto &f = p.f();
  struct Case {
    std::function<void()> setUp;
    const char *button;
    QString message;
    bool emptiesBoxes;
  };
  const Case cases[] = {
      {[&] { SetText(p.form.get(), "Edit14", ""); }, "Button29", "'' is not a valid integer value.", true},
      {[&] { SetText(p.form.get(), "Edit14", "1000"); }, "Button29",
       "MODBUS slave address: 1000 is outside 0 to 999; nothing was sent.", true},
      {[&] { SetText(p.form.get(), "Edit6", "-1"); }, "Button27",
       "HART instrument communication interval time: -1 is outside 0 to 999; nothing was sent.", true},
      {[&] { TypeInto(p.Combo("ComboBox7"), "fast"); }, "Button24",
       "Module working mode: no item is selected; nothing was sent.", true},
      {[&] { TypeInto(p.Combo("ComboBox12"), ""); }, "Button15",
       "RS485A Data Return Time: no item is selected; nothing was sent.", true},
      {[&] { TypeInto(p.Combo("ComboBox9"), "Mark"); }, "Button9", "RS485 Parity: no item is selected; nothing was sent.",
       true},
      {[&] { SetText(p.form.get(), "PCBSN", "abc"); }, "Button60", "'abc' is not a valid integer value.", false},
      {[&] { SetText(p.form.get(), "PUSET3", "x"); }, "PButton52", "'x' is not a valid integer value.", false},
      {[&] { SetText(p.form.get(), "Edit3", ""); }, "Button11", "'' is not a valid integer value.", false},
  };
  auto send = [&](const char *button) {
    SetText(p.form.get(), "Edit8", "previous request");
    Find<QPlainTextEdit>(p.form.get(), "Memo10")->setPlainText("previous reply");
    SetCodes(f, 55, 5);
    Timer(f, "Timer3")->stop();
    Timer(f, "Timer4")->stop();
    p.catcher.Clear();
    EXPECT_EQ(p.Send(button), "");
    EXPECT_TRUE(p.catcher.WaitForCount(1));
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message.toStdString());
    c.setUp();
    send(c.button);
    EXPECT_EQ(p.catcher.Messages().at(0).text, c.message);
    EXPECT_EQ(f.Cycle().PendingReply(), 55);
    EXPECT_EQ(f.Cycle().TimeoutKind(), 5);
    EXPECT_FALSE(Timer(f, "Timer3")->isActive());
    EXPECT_FALSE(Timer(f, "Timer4")->isActive());
    EXPECT_EQ(Text(p.form.get(), "Edit8").isEmpty(), c.emptiesBoxes);
    EXPECT_EQ(Text(p.form.get(), "Memo10").isEmpty(), c.emptiesBoxes);
  }

  // A cut-off too long for the module is refused where it would be sent: the handler has already
  // emptied "Receive Buffer:" and armed the time-out, which it does first.
  SetText(p.form.get(), "Edit2", QString(600, '1'));
  send("Button5");
  EXPECT_EQ(p.catcher.Messages().at(0).text,
            "The request would be 612 bytes long, more than the module takes; nothing was sent.");
  EXPECT_EQ(Text(p.form.get(), "Edit8"), "previous request");
  EXPECT_EQ(Text(p.form.get(), "Memo10"), "");
  EXPECT_TRUE(Timer(f, "Timer3")->isActive());
  EXPECT_EQ(f.Cycle().PendingReply(), 55);
}

TEST(SystemPage, SystemParameterReplyFillsEveryBox) {
  Page p;
  auto &f = p.f();
  auto *form = p.form.get();
  const std::string full =
      "QX BA2:42 MD:1 ADR:005 XY:3 JTM:020 AIN:020.00,004.00,00000 ZOM:0.500 ADX:9876#";
  EXPECT_EQ(p.Send("Button23"), "QQQ#QX#");
  p.Answer(full);
  EXPECT_EQ(p.Combo("ComboBox8")->currentText(), "19200");
  EXPECT_EQ(p.Combo("ComboBox9")->currentText(), "Even");
  EXPECT_EQ(p.Combo("ComboBox7")->currentIndex(), 1);
  EXPECT_EQ(p.Combo("ComboBox14")->currentIndex(), 1);
  EXPECT_EQ(p.Combo("ComboBox12")->currentText(), "3 300ms");
  EXPECT_EQ(Text(form, "Edit14"), "005");
  EXPECT_EQ(Text(form, "Edit18"), "005");
  EXPECT_EQ(Text(form, "Edit6"), "020");
  EXPECT_EQ(Text(form, "AD1H"), "020.00");
  EXPECT_EQ(Text(form, "AD1L"), "004.00");
  EXPECT_EQ(Text(form, "AD1LD"), "00000");
  EXPECT_EQ(Text(form, "Edit2"), "0.500");
  EXPECT_EQ(Text(form, "Edit3"), "9876");
  EXPECT_EQ(f.Cycle().PendingReply(), 202);
  EXPECT_EQ(f.Cycle().TimeoutKind(), 2);

  // 202 stays pending: each further delivery is parsed again. Missing keys leave their boxes.
  SetText(form, "Edit3", "1111");
  p.Answer("QX BA2:10 MD:0 ADR:007");
  EXPECT_EQ(Text(form, "Edit3"), "1111");
  EXPECT_EQ(Text(form, "Edit14"), "007");
  EXPECT_EQ(p.Combo("ComboBox8")->currentText(), "2400");
  EXPECT_EQ(p.Combo("ComboBox9")->currentText(), "None");

  // Without "QX" nothing changes.
  p.Answer("BA2:42 MD:1 ADR:009 ADX:2222");
  EXPECT_EQ(Text(form, "Edit14"), "007");
  EXPECT_EQ(Text(form, "Edit3"), "1111");

  // A mode past ComboBox7's two items leaves it without a selection.
  p.Answer("QX MD:2");
  EXPECT_EQ(p.Combo("ComboBox14")->currentIndex(), 2);
  EXPECT_EQ(p.Combo("ComboBox7")->currentIndex(), -1);
  EXPECT_EQ(p.Combo("ComboBox7")->currentText(), "");

  // Values are copied character for character; "AIN1:" is not "AIN:".
  p.Answer("QX AIN1:999999,999999,99999 ADR: 1x");
  EXPECT_EQ(Text(form, "Edit14"), " 1x");
  EXPECT_EQ(Text(form, "AD1H"), "020.00");

  // A value cut short by the end of the reply leaves its boxes unchanged.
  p.Answer("QX ZOM:1.5");
  EXPECT_EQ(Text(form, "Edit2"), "0.500");
  p.Answer("QX ADR:01");
  EXPECT_EQ(Text(form, "Edit14"), " 1x");
}

TEST(SystemPage, ANonDigitStopsTheParseWithTheConversionMessage) {
  Page p;
  auto *form = p.form.get();
  p.Send("Button23");
  p.catcher.Clear();
  p.Answer("QX BA2:4x MD:1 ADR:123");
  ASSERT_TRUE(p.catcher.WaitForCount(1));
  EXPECT_EQ(p.catcher.Messages()[0].text, "'x' is not a valid integer value.");
  EXPECT_EQ(p.Combo("ComboBox8")->currentText(), "19200") << "set before the parity digit failed";
  EXPECT_EQ(Text(form, "Edit14"), "001") << "later keys are not parsed";
}

TEST(SystemPage, CommunicationReplyEnablesTheCommandButtonsOnlyWithItsMarker) {
  Page p;
  const char *buttons[] = {"Button16", "Button21", "Button24", "Button29", "Button15", "Button27",
                           "Button5",  "Button9",  "Button7",  "Button14", "Button10", "Button17",
                           "Button18", "Button12", "Button31", "Button23"};
  for (const char *b : buttons) Find<QPushButton>(p.form.get(), b)->setEnabled(false);
  p.Send("Button6");
  p.Answer("QV1");
  for (const char *b : buttons) EXPECT_FALSE(Find<QPushButton>(p.form.get(), b)->isEnabled()) << b;
  EXPECT_EQ(p.f().Cycle().PendingReply(), 0);
  EXPECT_EQ(p.f().Cycle().TimeoutKind(), 0);
  p.Send("Button6");
  p.Answer("xxQV:1");
  for (const char *b : buttons) EXPECT_TRUE(Find<QPushButton>(p.form.get(), b)->isEnabled()) << b;
}

TEST(SystemPage, BoardDataAnswerIsRoutedByWhateverCodeIsPending) {
  Page p;
  auto *form = p.form.get();
  // After an answered setting nothing is pending: the answer is shown as text.
  p.Send("Button30");
  p.Answer("OK#");
  EXPECT_EQ(p.f().Cycle().PendingReply(), 0);
  p.Send("Button60");
  p.Answer("OK#");
  EXPECT_EQ(Text(form, "Memo10"), "OK#");

  // While the system-parameter query is still pending, the answer is parsed as its reply.
  p.Send("Button23");
  p.Answer("QX ADR:011");
  EXPECT_EQ(Text(form, "Edit14"), "011");
  p.Send("Button60");
  EXPECT_EQ(p.f().Cycle().PendingReply(), 202);
  p.Answer("QX ADR:012");
  EXPECT_EQ(Text(form, "Edit14"), "012");
  EXPECT_EQ(Text(form, "Memo10"), "QX ADR:012");
}

TEST(SystemPage, SlaveAddressIsMirroredIntoTheModbusTestAtEveryKeystroke) {
  TForm1 form;
  auto *edit14 = Find<QLineEdit>(&form, "Edit14");
  edit14->clear();
  EXPECT_EQ(Text(&form, "Edit18"), "");
  for (const char *key : {"2", "4", "7"}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(key));
    QApplication::sendEvent(edit14, &press);
    EXPECT_EQ(Text(&form, "Edit18"), edit14->text());
  }
  EXPECT_EQ(Text(&form, "Edit18"), "247");
}

// Types one character into a box through its key filter; returns the box's text afterwards.
QString Type(QLineEdit *box, QChar c, int key = 0) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
  QApplication::sendEvent(box, &press);
  return box->text();
}

TEST(SystemPage, KeyFiltersTakeOnlyTheirCharactersUpToTheirWidth) {
  TForm1 form;
  struct Box {
    const char *name;
    const char *allowed;
    int max;
  } boxes[] = {
      {"AD1H", "0123456789.-", 6}, {"AD1L", "0123456789.-", 6}, {"AD1LD", "0123456789.-", 5},
      {"Edit2", "0123456789.", 5}, {"PUSET3", "0123456789", 8}, {"PUSET1XIAO", "0123456789", 3},
      {"Edit3", "0123456789", 4},
  };
  const QString probes = QStringLiteral("0123456789.-+eE ,a\t\r\x16\x03\xe9");
  for (const Box &b : boxes) {
    SCOPED_TRACE(b.name);
    auto *box = Find<QLineEdit>(&form, b.name);
    for (QChar c : probes) {
      box->clear();
      const bool allowed = c.unicode() < 128 && std::strchr(b.allowed, c.toLatin1()) && c != QChar(0);
      EXPECT_EQ(Type(box, c), allowed ? QString(c) : QString()) << "character " << c.unicode();
    }
    // Fill the box, then every further character is refused, even over a selection.
    box->clear();
    for (int i = 0; i < b.max + 2; ++i) Type(box, '1');
    EXPECT_EQ(box->text(), QString(b.max, '1'));
    box->selectAll();
    EXPECT_EQ(Type(box, '2'), QString(b.max, '1'));
    // Backspace always passes.
    box->end(false);
    EXPECT_EQ(Type(box, QChar(8), Qt::Key_Backspace), QString(b.max - 1, '1'));
    EXPECT_EQ(Type(box, '2'), QString(b.max - 1, '1') + "2");
  }
  // The coefficient box starts with five characters: nothing can be typed until one is deleted.
  auto *edit3 = Find<QLineEdit>(&form, "Edit3");
  edit3->setText("10000");
  EXPECT_EQ(Type(edit3, '5'), "10000");
  // Text set other than by typing is not filtered.
  edit3->setText("abc123");
  EXPECT_EQ(edit3->text(), "abc123");
}

// Keys as the X11 and Wayland back ends deliver them: with their key code and the text they carry.
TEST(SystemPage, EditingKeysPassTheFiltersAndTypedTextIsFilteredAsItGrows) {
  TForm1 form;
  form.show();
  QApplication::setActiveWindow(&form);
  auto press = [](QLineEdit *box, int key, const QString &text) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(box, &event);
    return event.isAccepted();
  };
  for (const char *name : {"AD1H", "AD1L", "AD1LD", "Edit2", "PUSET3", "PUSET1XIAO", "Edit3"}) {
    SCOPED_TRACE(name);
    auto *box = Find<QLineEdit>(&form, name);
    box->setText("123");
    box->setCursorPosition(0);
    press(box, Qt::Key_Delete, "\x7f");
    EXPECT_EQ(box->text(), "23");
    int returns = 0;
    const auto connection = QObject::connect(box, &QLineEdit::returnPressed, [&] { ++returns; });
    press(box, Qt::Key_Return, "\r");
    QObject::disconnect(connection);
    EXPECT_EQ(returns, 1);
    EXPECT_FALSE(press(box, Qt::Key_Escape, "\x1b")) << "the box passes Escape on to the window";
    box->setFocus();
    press(box, Qt::Key_Tab, "\t");
    EXPECT_NE(QApplication::focusWidget(), box) << "Tab leaves the box";
    EXPECT_EQ(box->text(), "23");
  }

  // Several characters at once (a compose sequence, an input-method commit): each is filtered
  // against the text as it grows.
  auto *starting = Find<QLineEdit>(&form, "AD1LD");
  starting->setText("1234");
  press(starting, 0, "56");
  EXPECT_EQ(starting->text(), "12345");
  starting->setText("12");
  QInputMethodEvent commit;
  commit.setCommitString("5a-67");
  QApplication::sendEvent(starting, &commit);
  EXPECT_EQ(starting->text(), "125-6");
}

TEST(SystemPage, SerialSettingsCloseThePortAt2sAndTheTimeoutFollowsAt3s) {
  Page p;
  auto &f = p.f();
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(p.Send("Button9"), "QQS#BA2:30#");
  EXPECT_TRUE(Timer(f, "Timer4")->isActive());
  EXPECT_EQ(Timer(f, "Timer4")->interval(), 2000);
  ASSERT_TRUE(WaitUntil([&] { return !f.Cycle().PortOpen(); }, 3000));
  EXPECT_NEAR(t.elapsed(), 2000, 200);
  EXPECT_FALSE(f.Comm1()->IsOpen());
  EXPECT_EQ(Text(p.form.get(), "Button1"), "Open");
  EXPECT_FALSE(Find<QPushButton>(p.form.get(), "Button6")->isEnabled());
  ASSERT_TRUE(p.catcher.WaitForCount(1, 2000));
  EXPECT_NEAR(t.elapsed(), 3000, 200);
  EXPECT_EQ(p.catcher.Messages()[0].text, "!");
  EXPECT_EQ(Text(p.form.get(), "Label68"), "Set timeout!");

  // 19200 baud, odd parity.
  Click(p.form.get(), "Button1");
  Pick(p.form.get(), "ComboBox8", 4);
  Pick(p.form.get(), "ComboBox9", 1);
  EXPECT_EQ(p.Send("Button9"), "QQS#BA2:41#");
}

}  // namespace
