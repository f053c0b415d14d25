// The "Transparent Mode" page driven as a user would, with a pseudo-terminal as the module and
// the instrument behind it.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <clocale>
#include <string>

#include "app/main_window.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}

Bytes Preambles(int n) { return Bytes(static_cast<size_t>(n), 0xFF); }

Bytes Cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

uint8_t Xor(const Bytes &b, size_t from) {
  uint8_t x = 0;
  for (size_t i = from; i < b.size(); ++i) x ^= b[i];
  return x;
}

// A reply as an instrument sends it: preambles, body, checksum over the body.
Bytes Reply(int preambles, const Bytes &body) {
  Bytes out = Cat(Preambles(preambles), body);
  out.push_back(Xor(body, 0));
  return out;
}

// The identity of the example instrument: manufacturer 0x26, type 6, 5 preambles, id 00 12 34.
const Bytes kIdentityBody = B({0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE, 0x26, 0x06, 0x05, 0x05, 0x01, 0x01, 0x08,
                               0x00, 0x00, 0x12, 0x34});

// Dynamic-variable reply body with byte count `count` and the given variables (unit, 4 bytes).
Bytes VariablesBody(int count, const std::vector<Bytes> &variables) {
  Bytes body = B({0x86, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, count, 0x00, 0x00, 0x41, 0x40, 0x00, 0x00});
  for (const Bytes &v : variables) body = Cat(body, v);
  return body;
}

struct Page : OpenWindow {
  MessageCatcher catcher;
  Bytes Send(const char *button) {
    peer->Drain();
    Click(form.get(), button);
    return peer->Read(std::chrono::milliseconds(500), std::chrono::milliseconds(60));
  }
  void Answer(const Bytes &reply) {
    auto *memo = Find<QPlainTextEdit>(form.get(), "Memo10");
    memo->clear();
    peer->Write(reply);
    ASSERT_TRUE(WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return !Timer(*form, "Timer2")->isActive(); }, 1000));
  }
  QComboBox *Combo(const char *name) { return Find<QComboBox>(form.get(), name); }
};

TEST(HartPage, ManualCommandFramesAndRefusals) {
  Page p;
  QWidget *f = p.form.get();
  const Bytes seven = Preambles(7);

  SetText(f, "Edit10", "76 89 FD AD");
  EXPECT_EQ(p.Send("Button20"), Cat(seven, B({0x76, 0x89, 0xFD, 0xAD, 0xAF})));
  EXPECT_EQ(Text(f, "Edit8"), "FF FF FF FF FF FF FF 76 89 FD AD AF ");
  EXPECT_EQ(p.form->Cycle().PendingReply(), 104);
  EXPECT_EQ(p.form->Cycle().TimeoutKind(), 3);
  EXPECT_TRUE(Timer(*p.form, "Timer3")->isActive());
  EXPECT_EQ(Timer(*p.form, "Timer3")->interval(), 1000) << "the manual command does not set the interval";

  struct Case {
    const char *typed;
    const char *preamble;
    Bytes frame;
  } sent[] = {
      {"02", "6", Cat(seven, B({0x02, 0x02}))},
      {"02 80 00 00", "6", Cat(seven, B({0x02, 0x80, 0x00, 0x00, 0x82}))},
      {"02 80 8", "6", Cat(seven, B({0x02, 0x80, 0x82}))},
      {"02 80X", "6", Cat(seven, B({0x02, 0x80, 0x82}))},
      {"02", "0", B({0xFF, 0x02, 0x02})},
      {"02", "-1", B({0x02, 0x02})},
      {"01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11", "-1",
       B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x00})},
  };
  for (const Case &c : sent) {
    SCOPED_TRACE(c.typed);
    SetText(f, "Edit10", c.typed);
    SetText(f, "Edit9", c.preamble);
    EXPECT_EQ(p.Send("Button20"), c.frame);
  }

  struct Refusal {
    const char *typed;
    const char *preamble;
    QString message;
  } refused[] = {
      {"7689FDAD", "6", "NO SPACK"},
      {"", "6", "NO SPACK"},
      {"7", "abc", "NO SPACK"},
      {"02 0a", "6", "Data eeore!"},
      {"2 80", "6", "Data eeore!"},
      {"02 8 0", "6", "Data eeore!"},
      {"02", "abc", "'abc' is not a valid integer value."},
      {"02", "-2", "Preamble Length: -2 is outside -1 to 501; nothing was sent."},
      {"02", "502", "Preamble Length: 502 is outside -1 to 501; nothing was sent."},
  };
  for (const Refusal &r : refused) {
    SCOPED_TRACE(r.typed);
    SetText(f, "Edit10", r.typed);
    SetText(f, "Edit9", r.preamble);
    SetCodes(*p.form, 55, 5);
    p.catcher.Clear();
    EXPECT_EQ(p.Send("Button20"), Bytes{});
    ASSERT_TRUE(p.catcher.WaitForCount(1));
    EXPECT_EQ(p.catcher.Messages()[0].text, r.message);
    EXPECT_EQ(Text(f, "Edit8"), "");
    EXPECT_EQ(p.form->Cycle().PendingReply(), 55);
    EXPECT_EQ(p.form->Cycle().TimeoutKind(), 5);
  }
  // The longest frame that fits the transmit area goes out whole.
  SetText(f, "Edit10", "02");
  SetText(f, "Edit9", "501");
  EXPECT_EQ(p.Send("Button20").size(), 504u);
}

TEST(HartPage, IdentityThenVariablesThenPollingAddress) {
  Page p;
  QWidget *f = p.form.get();
  auto &form = *p.form;

  // Identity query with the defaults.
  EXPECT_EQ(p.Send("Button7"), Cat(Preambles(7), B({0x02, 0x80, 0x00, 0x00, 0x82})));
  EXPECT_EQ(form.Cycle().PendingReply(), 100);
  p.Answer(Reply(5, kIdentityBody));
  EXPECT_EQ(Text(f, "Edit28"), "38");
  EXPECT_EQ(Text(f, "Edit29"), "6");
  EXPECT_EQ(Text(f, "Edit31"), "5");
  EXPECT_EQ(Text(f, "Edit32"), "4660");
  EXPECT_EQ(p.Combo("ComboBox27")->currentIndex(), 0);
  EXPECT_EQ(form.Cycle().PendingReply(), 0);
  EXPECT_TRUE(Text(f, "Memo10").startsWith("FF FF FF FF FF 06 80 "));

  // Dynamic variables go to the stored long address.
  EXPECT_EQ(p.Send("Button16"), Cat(Preambles(7), B({0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 0x00, 0x07})));
  EXPECT_EQ(form.Cycle().PendingReply(), 103);
  p.Answer(Reply(5, VariablesBody(26, {B({32, 0x41, 0x48, 0x00, 0x00}), B({7, 0x3D, 0xCC, 0xCC, 0xCD}),
                                      B({19, 0x42, 0xCA, 0xA6, 0x66}), B({57, 0xC0, 0x70, 0x00, 0x00})})));
  EXPECT_EQ(Text(f, "Edit25"), "12.5");
  EXPECT_EQ(Text(f, "Edit26"), "0.1000000");
  EXPECT_EQ(Text(f, "Edit27"), "101.32499");
  EXPECT_EQ(Text(f, "Edit30"), "-3.75");
  EXPECT_EQ(Text(f, "HLabel2"), "12.5");
  EXPECT_EQ(Text(f, "HLabel5"), "-3.75");
  EXPECT_EQ(Text(f, "HLabel1"), "00000");
  EXPECT_EQ(p.Combo("ComboBox3")->currentIndex(), 12);
  EXPECT_EQ(p.Combo("ComboBox31")->currentIndex(), 6);
  EXPECT_EQ(p.Combo("ComboBox32")->currentIndex(), 19);
  EXPECT_EQ(p.Combo("ComboBox33")->currentIndex(), 75);

  // Polling address 5: RTS is switched on first, then command 6 goes to the long address.
  Pick(f, "ComboBox27", 5);
  EXPECT_EQ(p.Send("Button14"), Cat(Preambles(7), B({0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x06, 0x01, 0x05, 0x06})));
  EXPECT_EQ(form.Comm1()->RtsControl(), TRtsControl::RtsEnable);
  EXPECT_EQ(form.Cycle().PendingReply(), 106);
  EXPECT_EQ(Timer(form, "Timer3")->interval(), 3000);
  p.Answer(B({0xFF, 0x86}));
  EXPECT_EQ(Text(f, "Memo10"), "FF 86 ");
  EXPECT_EQ(form.Cycle().PendingReply(), 106) << "shown in hexadecimal only; the code stays";

  // Secondary master: the master flag goes from both frames.
  Pick(f, "ComboBox42", 1);
  Pick(f, "ComboBox30", 3);
  EXPECT_EQ(p.Send("Button7"), Cat(Preambles(7), B({0x02, 0x03, 0x00, 0x00, 0x01})));
  EXPECT_EQ(p.Send("Button16"), Cat(Preambles(7), B({0x82, 0x26, 0x06, 0x00, 0x12, 0x34, 0x03, 0x00, 0x87})));
}

TEST(HartPage, IdentityRepliesTheSearchAndTheStoredAddress) {
  Page p;
  QWidget *f = p.form.get();
  auto &form = *p.form;

  // Stray bytes before the preambles; polling address 12 is not in ComboBox27's list.
  Pick(f, "ComboBox30", 12);
  EXPECT_EQ(p.Send("Button7"), Cat(Preambles(7), B({0x02, 0x8C, 0x00, 0x00, 0x8E})));
  p.Answer(Cat(B({0x00, 0x06, 0xFF, 0x12}), Reply(3, kIdentityBody)));
  EXPECT_EQ(Text(f, "Edit32"), "4660");
  EXPECT_EQ(p.Combo("ComboBox27")->currentIndex(), -1);
  EXPECT_EQ(form.StoredIdentity().QueriedAddress(), 12);

  // An answer without FF 06 empties the boxes and keeps the stored identity.
  p.Send("Button7");
  p.Answer(B({0xFF, 0xFF, 0x86, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Text(f, "Edit28"), "");
  EXPECT_EQ(form.StoredIdentity().Identity().manufacturer, 0x26);

  // A reply cut off before the device identifier is no answer either: the next long frame still
  // goes to the stored identity, not to stale bytes of the receive area.
  Bytes other = kIdentityBody;
  other[7] = 0x11;  // manufacturer
  other[15] = 0x99;
  p.Send("Button7");
  const Bytes whole = Reply(5, other);
  p.Answer(Bytes(whole.begin(), whole.begin() + 5 + 17));
  EXPECT_EQ(Text(f, "Edit28"), "");
  EXPECT_EQ(form.StoredIdentity().Identity().manufacturer, 0x26);
  EXPECT_EQ(p.Send("Button16")[8], 0xA6);
}

TEST(HartPage, VariablesTakenFollowTheByteCountAndOnlyWholeVariablesCount) {
  Page p;
  QWidget *f = p.form.get();
  const Bytes v1 = B({32, 0x41, 0x48, 0x00, 0x00});    // 12.5 degC
  const Bytes v2 = B({0, 0x35, 0xC9, 0x53, 0x9C});     // 1.5E-6, unit 0 -> other
  const Bytes v3 = B({200, 0x7F, 0xA0, 0x00, 0x00});   // not a number -> eight zeros
  const Bytes v4 = B({12, 0x80, 0x00, 0x00, 0x00});    // -0 kPa
  auto setAll = [&](const char *text) {
    for (const char *e : {"Edit25", "Edit26", "Edit27", "Edit30"}) SetText(f, e, text);
  };
  struct Case {
    int count;
    int taken;
  } cases[] = {{11, 1}, {12, 2}, {16, 2}, {17, 3}, {21, 3}, {22, 4}, {26, 4}, {0, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    setAll("old");
    p.Send("Button16");
    p.Answer(Reply(5, VariablesBody(c.count, {v1, v2, v3, v4})));
    EXPECT_EQ(Text(f, "Edit25"), "12.5");
    EXPECT_EQ(Text(f, "Edit26"), c.taken >= 2 ? "1.5000000" : "old");
    EXPECT_EQ(Text(f, "Edit27"), c.taken >= 3 ? "00000000" : "old");
    EXPECT_EQ(Text(f, "Edit30"), c.taken >= 4 ? "0" : "old");
  }
  EXPECT_EQ(p.Combo("ComboBox31")->currentIndex(), 76);
  EXPECT_EQ(p.Combo("ComboBox31")->currentText(), "other");
  EXPECT_EQ(p.Combo("ComboBox32")->currentIndex(), 76);
  EXPECT_EQ(p.Combo("ComboBox33")->currentIndex(), 9);

  // A count of 26 but only two variables received: the missing ones keep their values.
  setAll("old");
  Bytes cut = Cat(Preambles(5), VariablesBody(26, {v1, v2, B({7, 0x41})}));
  p.Send("Button16");
  p.Answer(cut);
  EXPECT_EQ(Text(f, "Edit26"), "1.5000000");
  EXPECT_EQ(Text(f, "Edit27"), "old");

  // Variable 1 incomplete: nothing changes. No FF 86 at all: nothing changes.
  setAll("old");
  p.Send("Button16");
  p.Answer(Cat(Preambles(5), VariablesBody(26, {B({32, 0x41, 0x48})})));
  p.Send("Button16");
  p.Answer(B({0xFF, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Text(f, "Edit25"), "old");
}

// The search for the reply stops within the first 255 bytes, but the fields are read from the
// 404 bytes of the receive copy: a reply that starts late in a long delivery still counts whole.
TEST(HartPage, RepliesStartingLateInALongDeliveryAreReadWhole) {
  Page p;
  QWidget *f = p.form.get();
  p.Send("Button7");
  const Bytes identity = Cat(Bytes(244, 0x00), Reply(1, kIdentityBody));  // FF 06 at byte 244
  ASSERT_EQ(identity.size(), 264u);
  p.Answer(identity);
  EXPECT_EQ(Text(f, "Edit28"), "38");
  EXPECT_EQ(Text(f, "Edit32"), "4660");
  EXPECT_EQ(p.form->StoredIdentity().Identity().deviceId[2], 0x34);

  p.Send("Button16");
  const Bytes variables = B({32, 0x41, 0x48, 0x00, 0x00});
  p.Answer(Cat(Bytes(230, 0x00), Reply(1, VariablesBody(26, {variables, variables, variables, variables}))));
  EXPECT_EQ(Text(f, "Edit30"), "12.5") << "variable 4 ends at byte 264";
}

TEST(HartPage, TypedPollingAddressesAndTheMeterSelector) {
  Page p;
  QWidget *f = p.form.get();
  // A typed whole number within the list is used as the position; anything else is refused.
  TypeInto(p.Combo("ComboBox30"), "5");
  EXPECT_EQ(p.Send("Button7")[8], 0x85);
  for (const char *typed : {"16", "abc", ""}) {
    p.catcher.Clear();
    TypeInto(p.Combo("ComboBox30"), typed);
    EXPECT_EQ(p.Send("Button7"), Bytes{}) << typed;
    ASSERT_TRUE(p.catcher.WaitForCount(1));
    EXPECT_TRUE(p.catcher.Messages()[0].text.startsWith("HART Address: ")) << p.catcher.Messages()[0].text.toStdString();
  }
  TypeInto(p.Combo("ComboBox27"), "9");
  p.catcher.Clear();
  EXPECT_EQ(p.Send("Button14"), Bytes{});
  ASSERT_TRUE(p.catcher.WaitForCount(1));

  // Picking an address other than 0 empties the meter selector and leaves the register labels.
  auto *label19 = Find<QLabel>(f, "Label19");
  label19->setText("40011");
  Pick(f, "ComboBox30", 3);
  EXPECT_EQ(p.Combo("ComboBox41")->currentIndex(), -1);
  EXPECT_EQ(p.Combo("ComboBox41")->currentText(), "");
  EXPECT_EQ(label19->text(), "40011");
  Pick(f, "ComboBox30", 0);
  EXPECT_EQ(p.Combo("ComboBox41")->currentIndex(), 0);
  const char *labels[] = {"Label19", "Label24", "Label27", "Label28", "Label29"};
  const char *registers[] = {"40001", "40003", "40005", "40007", "40009"};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Text(f, labels[k]), registers[k]);
}

TEST(HartPage, FirstRequestTimesOutAfterTheStoredSecond) {
  TForm1 form;
  MessageCatcher catcher;
  QElapsedTimer t;
  t.start();
  Click(&form, "Button7");
  ASSERT_TRUE(catcher.WaitForCount(1, 2500));
  EXPECT_NEAR(t.elapsed(), 1000, 150);
  EXPECT_EQ(catcher.Messages()[0].text, "!");
  EXPECT_EQ(Text(&form, "Label68"), "Set timeout!");
  EXPECT_EQ(form.Cycle().PendingReply(), 100);
}

// Runs once more under a generated de_DE.UTF-8 (tests/CMakeLists.txt), where the C library itself
// writes "1,25": the digits must not come from it, the separator must come from the user's locale.
TEST(DecimalComma, ValuesAndCalculatorShowTheUsersSeparator) {
  if (std::string(std::localeconv()->decimal_point) != ",") {
    if (qEnvironmentVariableIsSet("RQ735_DECIMAL_COMMA_RUN"))
      FAIL() << "the C library's numeric locale is " << std::setlocale(LC_NUMERIC, nullptr) << ", not a decimal comma";
    GTEST_SKIP() << "runs under a decimal-comma locale only";
  }
  Page p;
  QWidget *f = p.form.get();
  p.Send("Button16");
  p.Answer(Reply(5, VariablesBody(26, {B({32, 0x41, 0x48, 0x00, 0x00}), B({7, 0x3D, 0xCC, 0xCC, 0xCD}),
                                      B({19, 0x42, 0xCA, 0xA6, 0x66}), B({57, 0xC0, 0x70, 0x00, 0x00})})));
  const std::pair<const char *, const char *> shown[] = {
      {"Edit25", "12,5"}, {"Edit26", "0,1000000"}, {"Edit27", "101,32499"}, {"Edit30", "-3,75"}};
  const char *copies[] = {"HLabel2", "HLabel3", "HLabel4", "HLabel5"};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(Text(f, shown[k].first), shown[k].second);
    EXPECT_EQ(Text(f, copies[k]), shown[k].second);
  }

  for (const auto &[input, value] : {std::pair{"41 48 00 00", "12,5"}, std::pair{"40 49 0F DB", "3,14159274"}}) {
    SetText(f, "Edit7", input);
    Click(f, "Button13");
    EXPECT_EQ(Text(f, "Edit22"), value) << input;
  }
}

}  // namespace
