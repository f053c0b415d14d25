// The "MODBUS Parameter Configuration" page driven as a user would, with a pseudo-terminal as the
// module.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/main_window.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

struct Page : OpenWindow {
  MessageCatcher catcher;  // closes time-out reports of requests nobody answers
  TForm1 &f() { return *form; }
  QWidget *w() { return form.get(); }
  QComboBox *Combo(const char *name) { return Find<QComboBox>(w(), name); }

  // Clicks a button (or runs an action) and returns what went out on the line.
  std::string Send(const std::function<void()> &action) {
    peer->Drain();
    action();
    return peer->ReadText(std::chrono::milliseconds(500), std::chrono::milliseconds(60));
  }
  std::string Send(const char *button) {
    return Send([&] { Click(w(), button); });
  }
  // Answers the pending request and waits until the answer is handled and parsed.
  void Answer(const std::string &reply) {
    auto *memo = Find<QPlainTextEdit>(w(), "Memo10");
    memo->clear();
    peer->Write(reply);
    ASSERT_TRUE(WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000)) << reply;
    ASSERT_TRUE(WaitUntil([&] { return !Timer(*form, "Timer2")->isActive(); }, 1000));
  }
  bool CustomGroupShown() { return !Find<QGroupBox>(w(), "GroupBox13")->isHidden(); }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(ModbusPage, EachButtonSendsItsFrameByteForByte) {
  Page p;
  auto text = [&](const char *box, const char *value) { return [&p, box, value] { SetText(p.w(), box, value); }; };
  auto pick = [&](std::initializer_list<std::pair<const char *, int>> picks) {
    std::vector<std::pair<const char *, int>> all(picks);
    return [&p, all] {
      for (const auto &[box, index] : all) Pick(p.w(), box, index);
    };
  };
  struct Case {
    const char *button;
    std::function<void()> setUp;
    std::string frame;
    const char *shown;  // Edit8 when it shows hexadecimal pairs
    int32_t pending;
    int32_t kind;
  };
  const std::string camd1 =
      Bytes({0x51, 0x51, 0x53, 0x23, 0x43, 0x41, 0x4D, 0x44, 0x30, 0x31, 0x3A, 0x31, 0x3C, 0x30, 0x33, 0x2C, 1, 2, 3});
  const Case cases[] = {
      {"Button31", nullptr, "QQQ#QQ0#", nullptr, 301, 2},
      {"Button10",
       [&] {
         SetText(p.w(), "Edit1", "060");
         Pick(p.w(), "ComboBox6", 1);
       },
       "QQS#HART0:1,0,00,4,060#", nullptr, 200, 3},
      {"Button10", pick({{"ComboBox17", 10}}), "QQS#HART0:1,0,10,4,060#", nullptr, 200, 3},
      {"Button10",
       [&] {
         Pick(p.w(), "ComboBox34", 5);
         Pick(p.w(), "ComboBox16", 1);
         SetText(p.w(), "Edit1", "5");
       },
       "QQS#HART0:1,1,10,9,005#", nullptr, 200, 3},
      {"Button21", pick({{"FAMOUT1", 0}, {"FAMOUT3", 0}, {"FAMOUT5", 0}, {"FAMOUT7", 0}, {"FAMOUT9", 0}}),
       "QQS#DFOT0:00000#", nullptr, 200, 3},
      {"Button21", pick({{"FAMOUT1", 1}, {"FAMOUT5", 3}}), "QQS#DFOT0:10300#", nullptr, 200, 3},
      {"Button22", pick({{"ComboBox14", 2}}), "QQS#MD:2#", nullptr, 200, 3},
      {"Button22", pick({{"ComboBox14", 1}}), "QQS#MD:1#", nullptr, 200, 3},
      {"Button24", pick({{"ComboBox7", 1}}), "QQS#MD:1#", nullptr, 200, 3},
      {"Button2", nullptr, "QQS#FMW:0,0.001#", nullptr, 200, 3},
      {"Button2", text("Beilv", "0.0015"), "QQS#FMW:0,0.001#", nullptr, 200, 3},
      {"Button2",
       [&] {
         SetText(p.w(), "Beilv", "12.345");
         Pick(p.w(), "ComboBox18", 3);
       },
       "QQS#FMW:3,12.34#", nullptr, 200, 3},
      {"Button17",
       [&] {
         Pick(p.w(), "ComboBox28", 1);
         SetText(p.w(), "Edit4", "01 02 03");
       },
       camd1, "51 51 53 23 43 41 4D 44 30 31 3A 31 3C 30 33 2C 01 02 03 ", 200, 3},
      {"Button18",
       [&] {
         Pick(p.w(), "ComboBox29", 0);
         SetText(p.w(), "Edit5", "00");
       },
       std::string("QQS#CAMD02:0<01,") + '\0', "51 51 53 23 43 41 4D 44 30 32 3A 30 3C 30 31 2C 00 ", 200, 3},
      {"Button18", text("Edit5", "7E"), "QQS#CAMD02:0<01,\x7E", nullptr, 200, 3},
      {"Button18", text("Edit5", "0102"), "QQS#CAMD02:0<01,\x01", nullptr, 200, 3},
      {"Button18", text("Edit5", "01 02 0"), "QQS#CAMD02:0<02,\x01\x02", nullptr, 200, 3},
      {"Button18", text("Edit5", "F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF EE"),
       "QQS#CAMD02:0<14,\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE", nullptr, 200, 3},
      {"Button12",
       [&] {
         Pick(p.w(), "ComboBox15", 5);
         const char *rows[][3] = {{"RADCOM1", "READADR1", "READLG1"}, {"RADCOM3", "READADR3", "READLG3"},
                                  {"RADCOM5", "READADR5", "READLG5"}, {"RADCOM7", "READADR7", "READLG7"}};
         const int commands[] = {1, 2, 0, 0}, lengths[] = {0, 1, 0, 0};
         const char *starts[] = {"10", "5", "0", "0"};
         for (int i = 0; i < 4; ++i) {
           Pick(p.w(), rows[i][0], commands[i]);
           SetText(p.w(), rows[i][1], starts[i]);
           Pick(p.w(), rows[i][2], lengths[i]);
         }
       },
       "QQS#MDBS0:8,1100,2051,0000,0000#", nullptr, 200, 3},
      {"Button12",
       [&] {
         Pick(p.w(), "ComboBox15", 0);
         Pick(p.w(), "RADCOM1", 0);
         SetText(p.w(), "READADR1", "0");
         Pick(p.w(), "RADCOM3", 0);
         SetText(p.w(), "READADR3", "0");
         Pick(p.w(), "READLG3", 0);
       },
       "QQS#MDBS0:3,0000,0000,0000,0000#", nullptr, 200, 3},
      {"Button4", nullptr, Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}), "01 03 00 00 00 0A C5 CD ", 302, 1},
      {"Button4", text("Edit18", "$11"), Bytes({0x11, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC7, 0x5D}), nullptr, 302, 1},
      {"Button4", text("Edit18", "0x11"), Bytes({0x11, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC7, 0x5D}), nullptr, 302, 1},
      {"Button4", text("Edit18", "273"), Bytes({0x11, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC7, 0x5D}), nullptr, 302, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.button) + " " + c.frame);
    if (c.setUp) c.setUp();
    SetCodes(p.f(), 7, 7);
    Timer(p.f(), "Timer3")->stop();
    EXPECT_EQ(p.Send(c.button), c.frame);
    const bool asText = c.frame.rfind("QQ", 0) == 0 && c.frame.rfind("QQS#CAMD", 0) != 0;
    if (c.shown) {
      EXPECT_EQ(Text(p.w(), "Edit8").toStdString(), c.shown);
    }
    if (asText) {
      EXPECT_EQ(Text(p.w(), "Edit8").toStdString(), c.frame);
    }
    EXPECT_EQ(p.f().Cycle().PendingReply(), c.pending);
    EXPECT_EQ(p.f().Cycle().TimeoutKind(), c.kind);
    EXPECT_TRUE(Timer(p.f(), "Timer3")->isActive());
    EXPECT_EQ(Timer(p.f(), "Timer3")->interval(), 3000);
  }
}

TEST(ModbusPage, RefusedValuesSendNothing) {
  Page p;
  auto &f = p.f();
  p.peer->Drain();
  auto text = [&](const char *box, const char *value) { return [&p, box, value] { SetText(p.w(), box, value); }; };
  auto noMeter = [&] { TypeInto(p.Combo("ComboBox41"), "Device 3"); };
  const QString noMeterText = "Meter ID: no item is selected; nothing was sent.";
  struct Case {
    std::function<void()> setUp;
    const char *button;
    QString message;
  };
  const Case cases[] = {
      // At start-up nothing is picked in "Enabled:" and "Buffer Clear Time" is empty: the refusal
      // would come where the frame is sent, but the conversion error stops the handler before.
      {nullptr, "Button10", "'' is not a valid integer value."},
      {text("Edit1", "5"), "Button10", "Enabled: no item is selected; nothing was sent."},
      {[&] {
         Pick(p.w(), "ComboBox6", 1);
         SetText(p.w(), "Edit1", "1000");
       },
       "Button10", "Buffer Clear Time: 1000 is outside 0 to 999; nothing was sent."},
      {text("Edit1", "-1"), "Button10", "Buffer Clear Time: -1 is outside 0 to 999; nothing was sent."},
      {[&] { TypeInto(p.Combo("ComboBox34"), "3"); }, "Button10", "Preamble Length: no item is selected; nothing was sent."},
      {nullptr, "Button21", "Data format of Current(RTU_ADR): no item is selected; nothing was sent."},
      {[&] { TypeInto(p.Combo("ComboBox14"), "x"); }, "Button22", "Module Operation Mode: no item is selected; nothing was sent."},
      {text("Beilv", "0.1"), "Button2", "Coefficient: \"0.1\" has fewer than five characters; nothing was sent."},
      {text("Beilv", ""), "Button2", "Coefficient: \"\" has fewer than five characters; nothing was sent."},
      {text("Beilv", "0.00€"), "Button2",
       "Coefficient: \"0.00€\" holds a character the module cannot take; nothing was sent."},
      {text("Edit4", "01 02"), "Button17", "Read Meter Command 1: no item is selected; nothing was sent."},
      {text("Edit4", ""), "Button17", "NO SPACK"},
      {text("Edit4", "010203"), "Button17", "NO SPACK"},
      {text("Edit5", "01 0g"), "Button18", "Data eeore!"},
      {text("Edit5", "0a"), "Button18", "Data eeore!"},
      // After picking the custom meter type every parsing field is empty: the start address's
      // conversion error comes before the refusals of the lists read ahead of it.
      {[&] { Pick(p.w(), "ComboBox17", 0); }, "Button12", "'' is not a valid integer value."},
      {[&] {
         for (const char *e : {"READADR1", "READADR3", "READADR5", "READADR7"}) SetText(p.w(), e, "0");
       },
       "Button12", "Address Bits: no item is selected; nothing was sent."},
      {[&] { Pick(p.w(), "ComboBox15", 5); }, "Button12",
       "Variable_1 Command Number: no item is selected; nothing was sent."},
      {[&] {
         for (const char *c : {"RADCOM1", "RADCOM3", "RADCOM5", "RADCOM7", "READLG1", "READLG3", "READLG5", "READLG7"})
           Pick(p.w(), c, 0);
         SetText(p.w(), "READADR1", "100");
       },
       "Button12", "Variable_1 Start Adr.: 100 is outside 0 to 99; nothing was sent."},
      {text("Edit19", ""), "Button4", "'' is not a valid integer value."},
      {noMeter, "Button31", noMeterText},
      {noMeter, "Button10", noMeterText},
      {noMeter, "Button21", noMeterText},
      {[&] { SetText(p.w(), "Edit4", "01"); }, "Button17", noMeterText},
      {noMeter, "Button12", noMeterText},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message.toStdString());
    if (c.setUp) c.setUp();
    SetCodes(f, 55, 5);
    Timer(f, "Timer3")->stop();
    p.catcher.Clear();
    Click(p.w(), c.button);
    ASSERT_TRUE(p.catcher.WaitForCount(1));
    EXPECT_EQ(p.catcher.Messages()[0].text, c.message);
    EXPECT_EQ(Text(p.w(), "Edit8"), "");
    EXPECT_EQ(f.Cycle().PendingReply(), 55);
    EXPECT_EQ(f.Cycle().TimeoutKind(), 5);
    EXPECT_FALSE(Timer(f, "Timer3")->isActive());
  }
  // Nothing of the refused requests went out: the next request is the first thing on the line.
  Pick(p.w(), "ComboBox41", 0);
  EXPECT_EQ(p.peer->ReadText(std::chrono::milliseconds(500), std::chrono::milliseconds(60)), "QQQ#QQ0#");
}

TEST(ModbusPage, MeterSelectionOnlyWithTheOpenPortRelabelsResetsAndQueries) {
  TForm1 closed;
  SetText(&closed, "Edit19", "55");
  Pick(&closed, "ComboBox41", 0);
  EXPECT_EQ(Text(&closed, "Label19"), "40001:");
  EXPECT_EQ(Text(&closed, "Edit19"), "55");
  EXPECT_EQ(Text(&closed, "Edit8"), "");
  EXPECT_EQ(closed.Cycle().PendingReply(), 0);
  EXPECT_FALSE(Timer(closed, "Timer3")->isActive());

  Page p;
  auto *w = p.w();
  // Fill everything the change may or may not reset.
  for (auto [box, index] : std::initializer_list<std::pair<const char *, int>>{
           {"ComboBox6", 1}, {"ComboBox16", 1}, {"ComboBox34", 2}, {"FAMOUT1", 1}, {"FAMOUT9", 3}, {"ComboBox28", 1},
           {"ComboBox29", 1}, {"RADCOM1", 2}, {"READLG7", 1}, {"ComboBox7", 1}, {"ComboBox12", 2}, {"ComboBox8", 4},
           {"ComboBox9", 2}, {"ComboBox18", 2}, {"ComboBox14", 1}, {"ComboBox15", 2}})
    Pick(w, box, index);
  for (const char *box : {"Edit1", "Edit4", "Edit5", "READADR1", "READADR7", "Edit14", "Edit6", "Edit19", "Edit20"})
    SetText(w, box, "12");
  SetText(w, "Beilv", "1.234");
  ASSERT_TRUE(p.CustomGroupShown());

  EXPECT_EQ(p.Send([&] { Pick(w, "ComboBox41", 0); }), "QQQ#QQ0#");
  EXPECT_EQ(Text(w, "Edit8"), "QQQ#QQ0#");
  const char *labels[] = {"Label19", "Label24", "Label27", "Label28", "Label29"};
  const char *numbers[] = {"40001", "40003", "40005", "40007", "40009"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Text(w, labels[i]), numbers[i]);
  EXPECT_EQ(Text(w, "Edit19"), "00");
  EXPECT_EQ(Text(w, "Edit20"), "10");
  for (const char *box : {"ComboBox6", "ComboBox17", "ComboBox16", "ComboBox34", "FAMOUT1", "FAMOUT9", "ComboBox28",
                          "ComboBox29", "RADCOM1", "READLG7", "ComboBox7", "ComboBox12", "ComboBox8", "ComboBox9"}) {
    EXPECT_EQ(p.Combo(box)->currentIndex(), -1) << box;
    EXPECT_EQ(p.Combo(box)->currentText(), "") << box;
  }
  for (const char *box : {"Edit1", "Edit4", "Edit5", "READADR1", "READADR7", "Edit14", "Edit18", "Edit6"})
    EXPECT_EQ(Text(w, box), "") << box;
  EXPECT_FALSE(p.CustomGroupShown());
  EXPECT_EQ(p.Combo("ComboBox18")->currentIndex(), 2);
  EXPECT_EQ(p.Combo("ComboBox14")->currentIndex(), 1);
  EXPECT_EQ(p.Combo("ComboBox15")->currentIndex(), 2);
  EXPECT_EQ(Text(w, "Beilv"), "1.234");
  EXPECT_EQ(p.f().Cycle().PendingReply(), 301);
  EXPECT_EQ(p.f().Cycle().TimeoutKind(), 2);
  EXPECT_TRUE(Timer(p.f(), "Timer3")->isActive());

  // Typed text names no meter: nothing happens.
  SetPending(p.f(), 0);
  Timer(p.f(), "Timer3")->stop();
  Find<QLabel>(w, "Label19")->setText("40001:");
  EXPECT_EQ(p.Send([&] { TypeInto(p.Combo("ComboBox41"), "Device 1"); }), "");
  EXPECT_EQ(Text(w, "Label19"), "40001:");
  EXPECT_EQ(p.f().Cycle().PendingReply(), 0);
}

TEST(ModbusPage, ParameterReplyFillsThePage) {
  Page p;
  auto *w = p.w();
  auto index = [&](const char *box) { return p.Combo(box)->currentIndex(); };
  EXPECT_EQ(p.Send("Button31"), "QQQ#QQ0#");
  p.Answer("QQ0#FMW:2,0.002#HART0:1,0,00,5,060#DFO0:01230#ZDY0:8,1100,2051,0000,0000#MD:2#"
           "CAMD01:1<03,01 02 03#CAMD02:0<00,#");
  EXPECT_EQ(index("ComboBox18"), 2);
  EXPECT_EQ(Text(w, "Beilv"), "0.002");
  EXPECT_EQ(Text(w, "ComboBox6"), "1 Open");
  EXPECT_EQ(Text(w, "ComboBox16"), "Secondary Master Device");
  EXPECT_EQ(Text(w, "ComboBox17"), "0)Custom Meter");
  EXPECT_EQ(Text(w, "ComboBox34"), "5");
  EXPECT_EQ(Text(w, "Edit1"), "060");
  const int formats[] = {0, 1, 2, 3, 0};
  const char *famout[] = {"FAMOUT1", "FAMOUT3", "FAMOUT5", "FAMOUT7", "FAMOUT9"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(index(famout[i]), formats[i]) << famout[i];
  EXPECT_TRUE(p.CustomGroupShown());
  EXPECT_EQ(Text(w, "ComboBox15"), "8");
  const struct {
    const char *command, *start, *length;
    int commandIndex;
    const char *startText;
    int lengthIndex;
  } rows[] = {{"RADCOM1", "READADR1", "READLG1", 1, "10", 0},
              {"RADCOM3", "READADR3", "READLG3", 2, "05", 1},
              {"RADCOM5", "READADR5", "READLG5", 0, "00", 0},
              {"RADCOM7", "READADR7", "READLG7", 0, "00", 0}};
  for (const auto &r : rows) {
    EXPECT_EQ(index(r.command), r.commandIndex) << r.command;
    EXPECT_EQ(Text(w, r.start), r.startText) << r.start;
    EXPECT_EQ(index(r.length), r.lengthIndex) << r.length;
  }
  EXPECT_EQ(index("ComboBox14"), 2);
  EXPECT_EQ(index("ComboBox7"), -1) << "mode 2 is past the system page's two entries";
  EXPECT_EQ(index("ComboBox28"), 1);
  EXPECT_EQ(Text(w, "Edit4"), "01 02 03");
  EXPECT_EQ(index("ComboBox29"), 0);
  EXPECT_EQ(Text(w, "Edit5"), "");
  EXPECT_EQ(p.f().Cycle().PendingReply(), 301);

  // 301 stays pending: later deliveries are parsed too. Meter type 03 hides the custom groups.
  p.Answer("QQ HART0:1,1,03,4,010 ZDY0:3,0000,0000,0000,0000 MD:1 CAMD01:0<01,FF");
  EXPECT_EQ(Text(w, "ComboBox17"), "3)KROHEN_IFC300");
  EXPECT_FALSE(p.CustomGroupShown());
  EXPECT_EQ(Text(w, "ComboBox15"), "8");
  EXPECT_EQ(index("ComboBox14"), 2);
  EXPECT_EQ(Text(w, "Edit4"), "01 02 03");

  // Only the coefficient: the rest keeps its values, the group follows the selected type.
  p.Answer("QQ FMW:1,0.500");
  EXPECT_EQ(index("ComboBox18"), 1);
  EXPECT_EQ(Text(w, "Beilv"), "0.500");
  EXPECT_EQ(Text(w, "Edit1"), "010");
  EXPECT_FALSE(p.CustomGroupShown());
  Pick(w, "ComboBox17", 0);
  Find<QGroupBox>(w, "GroupBox13")->hide();
  p.Answer("QQ FMW:1,0.500");
  EXPECT_TRUE(p.CustomGroupShown());
  SetText(w, "Edit4", "AA");

  // A data length digit "4" is outside its list; a group cut short by the end is left alone.
  p.Answer("QQ ZDY0:8,1104,2051,0000,0000 CAMD01:1<03,01 02");
  EXPECT_EQ(index("READLG1"), -1);
  EXPECT_EQ(Text(w, "READLG1"), "");
  EXPECT_EQ(index("READLG3"), 1);
  EXPECT_EQ(Text(w, "Edit4"), "AA");

  // Without "QQ" nothing changes; a non-digit stops the parse with the conversion message.
  p.Answer("FMW:3,9.999");
  EXPECT_EQ(index("ComboBox18"), 1);
  p.catcher.Clear();
  p.Answer("QQ FMW:0,0.250 HART0:0,x,00,5,060 DFO0:00000");
  ASSERT_TRUE(p.catcher.WaitForCount(1));
  EXPECT_EQ(p.catcher.Messages()[0].text, "'x' is not a valid integer value.");
  EXPECT_EQ(Text(w, "Beilv"), "0.250");
  EXPECT_EQ(Text(w, "ComboBox6"), "0 Close");
  EXPECT_EQ(index("FAMOUT3"), 1) << "groups after the failure are not parsed";

  // A meter type past the list leaves none selected; the profile cannot be sent back then.
  p.Answer("QQ HART0:1,0,16,4,060");
  EXPECT_EQ(index("ComboBox17"), -1);
  p.catcher.Clear();
  EXPECT_EQ(p.Send("Button10"), "");
  ASSERT_TRUE(p.catcher.WaitForCount(1));
  EXPECT_EQ(p.catcher.Messages()[0].text, "Meter Type: no item is selected; nothing was sent.");
}

TEST(ModbusPage, PickingTheCustomMeterTypeShowsAnEmptyGroup) {
  TForm1 form;
  Pick(&form, "RADCOM1", 1);
  SetText(&form, "READADR3", "7");
  SetText(&form, "Edit4", "01");
  Pick(&form, "ComboBox17", 14);
  EXPECT_TRUE(Find<QGroupBox>(&form, "GroupBox13")->isHidden());
  EXPECT_EQ(Text(&form, "RADCOM1"), "1 Command 1");
  EXPECT_EQ(Text(&form, "READADR3"), "7");
  Pick(&form, "ComboBox17", 0);
  EXPECT_FALSE(Find<QGroupBox>(&form, "GroupBox13")->isHidden());
  for (const char *box : {"RADCOM1", "ComboBox15", "ComboBox28", "READADR3", "Edit4"})
    EXPECT_EQ(Text(&form, box), "") << box;
  EXPECT_EQ(Find<QComboBox>(&form, "ComboBox15")->currentIndex(), -1);
}

TEST(ModbusPage, CalculatorDecodesFourBytesAndRefusesBadInput) {
  TForm1 form;
  MessageCatcher catcher;
  const std::pair<const char *, const char *> values[] = {
      {"3F 80 00 00", "1"},          {"41 20 00 00", "10"},          {"C2 C8 00 00", "-100"},
      {"3F 00 00 00", "0.5"},        {"40 49 0F DB", "3.14159274"},  {"3D CC CC CD", "0.10000000"},
      {"4E 6E 6B 28", "1000000000"}, {"00 00 00 00", "0"},           {"7F 80 00 00", "INF"},
      {"FF FF FF FF", "-NAN"},       {"FF FF FF", "-NAN"},           {"3F", "0.5"},
      {"3F 80 00 00 12 34", "1"},    {"5A 0E 1B CA", "1.00000002"},  {"38 D1 B7 17", "9.99999974"},
      {"80 00 00 00", "0"},          {"FF 80 00 00", "-INF"},        {"00 00 00 01", "1.40129846"},
  };
  for (const auto &[input, shown] : values) {
    SetText(&form, "Edit7", input);
    Click(&form, "Button13");
    EXPECT_EQ(Text(&form, "Edit22"), shown) << input;
  }
  EXPECT_TRUE(catcher.Messages().empty());

  const QString noSpaces = "Input data without spaces";
  const QString invalid = "Invalid characters detected, please re-enter!";
  const std::pair<const char *, QString> refused[] = {
      {"FFFFFFFF", noSpaces},      {"F 80 00 00", noSpaces},     {"3f 80 00 00", invalid},
      {"3F 8- 00 00", invalid},    {"3F 80 00 00 ", invalid},    {"", invalid},
  };
  for (const auto &[input, message] : refused) {
    SetText(&form, "Edit22", "kept");
    SetText(&form, "Edit7", input);
    catcher.Clear();
    Click(&form, "Button13");
    ASSERT_TRUE(catcher.WaitForCount(1)) << input;
    EXPECT_EQ(catcher.Messages()[0].text, message) << input;
    EXPECT_EQ(Text(&form, "Edit22"), "kept");
  }
  EXPECT_EQ(Text(&form, "Edit8"), "");
  EXPECT_EQ(form.Cycle().PendingReply(), 0);
}

}  // namespace
