// Two hundred request-reply cycles in a row against the simulated module, in two runs of 100 (one
// window and one simulator each): every reply arrives as one delivery, is routed to the request
// that asked for it, and the settings sent along the way are the ones the module reports.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <iostream>

#include "app/main_window.h"
#include "tests/support/sim_process.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

// The benchmark's memory figure runs the thousand-cycle soak; here the cycles check routing.
constexpr int kCyclesPerRun = 100;

QString ThreeDigits(int v) { return QStringLiteral("%1").arg(v, 3, 10, QLatin1Char('0')); }
QString FourDigits(int v) { return QStringLiteral("%1").arg(v, 4, 10, QLatin1Char('0')); }

void RunCycles(int run) {
  SimProcess sim({QStringLiteral("--quiet"), QStringLiteral("--no-publish")});
  ASSERT_TRUE(sim.Running());
  TForm1 form;
  MessageCatcher catcher;
  auto *memo = Find<QPlainTextEdit>(&form, "Memo10");

  TypeInto(Find<QComboBox>(&form, "SPREALCOM"), sim.Port());
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());

  int deliveries = 0;
  const auto original = form.Comm1()->OnReceiveData;
  form.Comm1()->OnReceiveData = [&](TComm *sender, const uint8_t *buffer, uint16_t length) {
    ++deliveries;
    original(sender, buffer, length);
  };

  int lost = 0;
  int misrouted = 0;
  int adr = 1, jtm = 10, adx = 9999;  // the simulator's values at start
  QElapsedTimer total;
  total.start();
  for (int i = 0; i < kCyclesPerRun; ++i) {
    const int j = run * kCyclesPerRun + i;
    QString expected;
    int32_t pendingAfter = 0;
    if (i % 25 == 24) {
      // The module reports what the settings of this run left behind.
      Click(&form, "Button23");
      expected = QStringLiteral("QX#BA2:30#MD:0#ADR:%1#XY:0#JTM:%2#AIN:020.00,004.00,00000#ZOM:0.000#ADX:%3#")
                     .arg(ThreeDigits(adr), ThreeDigits(jtm), FourDigits(adx));
      pendingAfter = 202;
    } else {
      switch (i % 4) {
        case 0:
          jtm = j % 1000;
          SetText(&form, "Edit6", QString::number(jtm));
          Click(&form, "Button27");
          expected = "OK#";
          break;
        case 1:
          Click(&form, "Button8");
          expected = "QVAL:AD1:32768,12.000mA#";
          break;
        case 2:
          adr = j % 247 + 1;
          SetText(&form, "Edit14", QString::number(adr));
          Click(&form, "Button29");
          expected = "OK#";
          break;
        default:
          // Every other coefficient does not fit the module's four digits and is refused.
          if (j % 2 == 0) {
            SetText(&form, "Edit3", "10000");
            expected = "ERR#";
          } else {
            adx = j % 10000;
            SetText(&form, "Edit3", QString::number(adx));
            expected = "OK#";
          }
          Click(&form, "Button11");
          break;
      }
    }
    if (!WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000)) {
      ++lost;
      ADD_FAILURE() << "cycle " << j << ": no reply to " << Text(&form, "Edit8").toStdString();
      continue;
    }
    const bool waits = Timer(form, "Timer3")->isActive();
    if (memo->toPlainText() != expected || form.Cycle().PendingReply() != pendingAfter || waits) {
      ++misrouted;
      ADD_FAILURE() << "cycle " << j << ": " << Text(&form, "Edit8").toStdString() << " got "
                    << memo->toPlainText().toStdString() << ", code " << form.Cycle().PendingReply();
    }
    if (pendingAfter == 202) {
      // The parse fills the boxes from the reply.
      EXPECT_TRUE(WaitUntil([&] { return !Timer(form, "Timer2")->isActive(); }, 1000));
      EXPECT_EQ(Text(&form, "Edit6"), ThreeDigits(jtm));
      EXPECT_EQ(Text(&form, "Edit14"), ThreeDigits(adr));
      EXPECT_EQ(Text(&form, "Edit3"), FourDigits(adx));
    }
    if (lost + misrouted > 5) break;  // the line is broken; the count says enough
  }
  const double seconds = total.elapsed() / 1000.0;
  form.Comm1()->OnReceiveData = original;

  std::cout << "[ many cycles ] run " << run + 1 << ": " << kCyclesPerRun << " cycles in " << seconds << " s, "
            << kCyclesPerRun / seconds << " cycles/s, " << 1000.0 * seconds / kCyclesPerRun << " ms per cycle" << std::endl;
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(misrouted, 0);
  EXPECT_EQ(deliveries, kCyclesPerRun) << "a reply came in pieces, or something came unasked";
  EXPECT_TRUE(catcher.Messages().empty()) << catcher.Messages().front().text.toStdString();

  // Close and open again: the module still answers.
  Click(&form, "Button1");
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  Click(&form, "Button8");
  EXPECT_EQ(WaitForReceiveBox(form), "QVAL:AD1:32768,12.000mA#");
}

TEST(ManyCycles, Run1Of2) { RunCycles(0); }
TEST(ManyCycles, Run2Of2) { RunCycles(1); }

}  // namespace
