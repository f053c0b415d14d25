// Every box of the three pages filled with hostile text and every button pressed: the window must
// answer with a message or send a frame that fits the transmit area and is the one it shows.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <set>

#include "app/main_window.h"
#include "protocol/hex.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;
using std::chrono::milliseconds;

namespace {

constexpr size_t kFrameRoom = TransmitView::kRoom;

QStringList HostileTexts() {
  QStringList texts = {
      QString(),
      QString(40000, QLatin1Char('9')),  // more than a line edit holds
      QString(600, QLatin1Char('A')),
      QStringLiteral("FF ").repeated(200),  // hexadecimal pairs far past any frame
      QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 "),
      QStringLiteral("\t\r\n\x01\x1b[2J\x7f#"),
      QString::fromLatin1("\x00\x00#\x00", 4),
      QStringLiteral("QQS#RESET#"),
      QString::fromUtf8("\xce\xa9 \xc2\xb5 \xe6\xb5\x8b\xe8\xaf\x95 \xc3\xbc \xf0\x9f\x99\x82"),
      QString::fromUtf8("\xc3\xbf\xc3\xbf\xc3\xbf\xc3\xbf\xc3\xbf"),  // five characters of 0xFF
      QStringLiteral("2147483647"),
      QStringLiteral("2147483648"),
      QStringLiteral("-2147483648"),
      QStringLiteral("-2147483649"),
      QStringLiteral("4294967295"),
      QStringLiteral("$7FFFFFFF"),
      QStringLiteral("$80000000"),
      QStringLiteral("0xFFFFFFFF"),
      QStringLiteral("-1"),
      QStringLiteral(" 12 "),
      QStringLiteral("1e308"),
      QStringLiteral("-3.4028236E+38"),
      QStringLiteral("nan"),
      QStringLiteral("%s%n%x"),
  };
  return texts;
}

// Plausible values, so that random rounds also get handlers past their first field.
QStringList UsualTexts() {
  return {QStringLiteral("0"),     QStringLiteral("1"),        QStringLiteral("12"),         QStringLiteral("255"),
          QStringLiteral("12.5"),  QStringLiteral("0.001"),    QStringLiteral("01 02 03 "), QStringLiteral("3F 80 00 00"),
          QStringLiteral("00000"), QStringLiteral("99999999")};
}

const std::set<int32_t> kKnownCodes = {0, 100, 103, 104, 106, 200, 201, 202, 301, 302, 1001};

struct Controls {
  std::vector<QLineEdit *> edits;
  std::vector<QComboBox *> editableCombos;
  std::vector<QComboBox *> fixedCombos;
  std::vector<QPushButton *> buttons;  // every button but Button1 and Button9
};

Controls ControlsOf(TForm1 &form) {
  Controls c;
  auto *pages = Find<QTabWidget>(&form, "PageControl1");
  for (QLineEdit *e : pages->findChildren<QLineEdit *>()) {
    if (e->objectName().isEmpty() || qobject_cast<QComboBox *>(e->parentWidget())) continue;  // a combo's own
    if (e->objectName() == "Edit8") continue;  // shows the request; checked after each press
    c.edits.push_back(e);
  }
  for (QComboBox *combo : pages->findChildren<QComboBox *>()) {
    // The port boxes only matter to Button1, which is exercised on its own.
    if (combo->objectName() == "SPREALCOM" || combo->objectName() == "ComboBox11" ||
        combo->objectName() == "ComboBox10")
      continue;
    (combo->isEditable() ? c.editableCombos : c.fixedCombos).push_back(combo);
  }
  for (QPushButton *b : form.findChildren<QPushButton *>()) {
    // The port button is exercised on its own; the monitor's and the instrument window's send nothing.
    if (b->objectName() == "Button1" || b->objectName() == "Button9" || b->objectName() == "MonitorButton" ||
        b->objectName() == "InstrumentButton")
      continue;
    c.buttons.push_back(b);
  }
  return c;
}

// Watches the line: every action's frames must fit the transmit area and be what Edit8 shows.
class LineCheck {
 public:
  LineCheck(TForm1 &form, PtyPeer &peer) : form_(form), peer_(peer), edit8_(Find<QLineEdit>(&form, "Edit8")) {}

  // Runs the action and checks what it wrote. `frames` is the most frames it may send.
  void Observe(const QString &what, const std::function<void()> &action, int frames = 1) {
    edit8_->clear();
    action();
    ++actions;
    const int32_t code = form_.Cycle().PendingReply();
    EXPECT_TRUE(kKnownCodes.count(code)) << what.toStdString() << ": code " << code;
    const QString shown = edit8_->text();
    if (shown.isEmpty()) return;  // refused before anything was built

    const auto bytes = peer_.Read(milliseconds(1000), milliseconds(30));
    ++sent;
    largest = std::max(largest, bytes.size());
    EXPECT_FALSE(bytes.empty()) << what.toStdString() << ": shown but not sent: " << shown.toStdString();
    EXPECT_LE(bytes.size(), kFrameRoom * static_cast<size_t>(frames)) << what.toStdString();
    const QString asText = QString::fromLatin1(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
    const QString asHex = QString::fromStdString(BytesToHexPairs(bytes.data(), bytes.size()));
    EXPECT_TRUE(asText.endsWith(shown) || asHex.endsWith(shown))
        << what.toStdString() << ": Edit8 shows " << shown.left(120).toStdString() << " but the line carried "
        << asHex.left(360).toStdString();
  }

  // Nothing may reach the line without Edit8 showing it.
  void ExpectSilence(const std::string &when) {
    const auto stray = peer_.Read(milliseconds(60), milliseconds(20));
    EXPECT_TRUE(stray.empty()) << when << ": " << stray.size() << " bytes sent without being shown";
  }

  int actions = 0;
  int sent = 0;
  size_t largest = 0;

 private:
  TForm1 &form_;
  PtyPeer &peer_;
  QLineEdit *edit8_;
};

void Fill(LineCheck &line, const Controls &c, const std::function<QString(int)> &textFor, std::mt19937 &random) {
  int k = 0;
  for (QLineEdit *e : c.edits) {
    const QString text = textFor(k++);
    line.Observe("typing into " + e->objectName(), [&] {
      e->selectAll();
      e->del();
      e->insert(text);
    });
  }
  for (QComboBox *combo : c.editableCombos) {
    const QString text = textFor(k++);
    // Typing into the meter selector sends its query when the text names a meter.
    line.Observe("typing into " + combo->objectName(), [&] { TypeInto(combo, text); }, 2);
  }
  for (QComboBox *combo : c.fixedCombos) {
    const int index = static_cast<int>(random() % (combo->count() + 1)) - 1;  // -1: nothing selected
    line.Observe("picking in " + combo->objectName(), [&] {
      if (index < 0) {
        combo->setCurrentIndex(-1);
      } else {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
      }
    });
  }
}

void PressAll(LineCheck &line, const Controls &c, const QString &round) {
  for (QPushButton *b : c.buttons)
    line.Observe(round + ": " + b->objectName(), [&] { b->click(); });
}

TEST(HostileInput, EveryBoxAndButtonGivesAMessageOrABoundedFrame) {
  OpenWindow w;
  TForm1 &form = *w.form;
  MessageCatcher catcher;
  LineCheck line(form, *w.peer);
  const Controls c = ControlsOf(form);
  ASSERT_GT(c.edits.size(), 20u);
  ASSERT_EQ(c.buttons.size(), 29u);
  std::mt19937 random(735);

  // Each hostile text in every box at once.
  const QStringList hostile = HostileTexts();
  for (int t = 0; t < hostile.size(); ++t) {
    const QString round = QStringLiteral("text %1").arg(t);
    Fill(line, c, [&](int) { return hostile[t]; }, random);
    PressAll(line, c, round);
    line.ExpectSilence(round.toStdString());
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
  }

  // Mixed rounds: hostile and plausible texts side by side, so handlers get past their first box.
  QStringList pool = hostile + UsualTexts() + UsualTexts();
  for (int r = 0; r < 12; ++r) {
    const QString round = QStringLiteral("mixed round %1").arg(r);
    Fill(line, c, [&](int) { return pool[static_cast<int>(random() % pool.size())]; }, random);
    PressAll(line, c, round);
    line.ExpectSilence(round.toStdString());
  }

  // Every message is titled and says something.
  for (const Message &m : catcher.Messages()) {
    EXPECT_EQ(m.title, "RQ735");
    EXPECT_FALSE(m.text.trimmed().isEmpty());
  }
  std::cout << "[ hostile input ] " << line.actions << " actions, " << line.sent << " frames sent (largest "
            << line.largest << " bytes), " << catcher.Messages().size() << " messages" << std::endl;
  EXPECT_GT(line.sent, 50) << "too few requests went out to prove anything";
  EXPECT_TRUE(form.Cycle().PortOpen());
  EXPECT_TRUE(form.Comm1()->IsOpen());
}

// Button9 tells the module new line settings and closes the port 2 s later.
TEST(HostileInput, SerialSettingsCommandRefusesWithoutASelectionAndClosesAfterSending) {
  OpenWindow w;
  TForm1 &form = *w.form;
  MessageCatcher catcher;
  LineCheck line(form, *w.peer);
  auto *baud = Find<QComboBox>(&form, "ComboBox8");
  auto *parity = Find<QComboBox>(&form, "ComboBox9");

  for (QComboBox *combo : {baud, parity}) {
    if (combo->isEditable()) {
      for (const QString &text : HostileTexts()) {
        TypeInto(combo, text);
        catcher.Clear();
        line.Observe("Button9 with " + combo->objectName() + " typed", [&] { Click(&form, "Button9"); });
        EXPECT_FALSE(Timer(form, "Timer4")->isActive()) << text.left(40).toStdString();
      }
    }
    combo->setCurrentIndex(-1);
    catcher.Clear();
    line.Observe("Button9 without a selection", [&] { Click(&form, "Button9"); });
    ASSERT_TRUE(catcher.WaitForCount(1));
    EXPECT_FALSE(Timer(form, "Timer4")->isActive());
    EXPECT_TRUE(form.Cycle().PortOpen());
    combo->setCurrentIndex(combo->count() - 1);
  }

  line.Observe("Button9", [&] { Click(&form, "Button9"); });
  EXPECT_EQ(line.sent, 1);
  EXPECT_TRUE(Timer(form, "Timer4")->isActive());
  ASSERT_TRUE(WaitUntil([&] { return !form.Cycle().PortOpen(); }, 3000));
  EXPECT_FALSE(form.Comm1()->IsOpen());

  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  Click(&form, "Button6");
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QV#");
}

// Button1 with hostile port names, baud rates and parities: a clear message, or an open port.
TEST(HostileInput, PortBoxesNeverCrashTheOpening) {
  TForm1 form;
  MessageCatcher catcher;
  PtyPeer peer;
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  auto *baud = Find<QComboBox>(&form, "ComboBox11");
  auto *parity = Find<QComboBox>(&form, "ComboBox10");
  const QString pty = QString::fromStdString(peer.SlavePath());

  const QStringList ports = {QString(),
                             QString(5000, QLatin1Char('x')),
                             QStringLiteral("/dev/null"),
                             QStringLiteral("/dev/zero"),
                             QStringLiteral("../../../etc/passwd"),
                             QStringLiteral("COM0"),
                             QStringLiteral("COM4294967296"),
                             QStringLiteral("COM99999999"),
                             QStringLiteral("COM-1"),
                             QStringLiteral("\x01\t\n"),
                             QString::fromUtf8("\xe6\xb5\x8b\xe8\xaf\x95"),
                             pty + QStringLiteral("/"),
                             pty};
  QStringList bauds = HostileTexts();
  bauds << QStringLiteral("9600") << QStringLiteral("15200") << QStringLiteral("1");

  // Every port name with a usable rate, then the pseudo-terminal with every rate; each with a
  // parity picked, another picked, and none.
  std::vector<std::pair<QString, QString>> cases;
  for (const QString &p : ports) cases.emplace_back(p, QStringLiteral("9600"));
  for (const QString &b : bauds) cases.emplace_back(pty, b);

  int opened = 0;
  for (const auto &[p, b] : cases) {
    for (int parityIndex : {-1, 0, 2}) {
      const std::string what = "port " + p.left(30).toStdString() + ", baud " + b.left(30).toStdString() +
                               ", parity " + std::to_string(parityIndex);
      TypeInto(port, p);
      TypeInto(baud, b);
      parity->setCurrentIndex(parityIndex);
      catcher.Clear();
      Click(&form, "Button1");
      if (form.Cycle().PortOpen()) {
        ++opened;
        EXPECT_EQ(p, pty) << what;
        EXPECT_TRUE(form.Comm1()->IsOpen()) << what;
        EXPECT_GT(form.Comm1()->BaudRate(), 0u) << what;
        Click(&form, "Button1");
        EXPECT_FALSE(form.Comm1()->IsOpen()) << what;
      } else {
        ASSERT_TRUE(catcher.WaitForCount(1, 2000)) << what << ": neither opened nor a message";
        EXPECT_EQ(catcher.Messages()[0].icon, QMessageBox::Critical) << what;
        EXPECT_FALSE(form.Comm1()->IsOpen()) << what;
        EXPECT_EQ(Text(&form, "Button1"), "Open") << what;
      }
    }
  }
  std::cout << "[ hostile input ] the port opened " << opened << " times out of " << cases.size() * 3 << std::endl;
  EXPECT_GE(opened, 6);  // the pseudo-terminal with the usable rates and a parity
}

}  // namespace
