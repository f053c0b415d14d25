#include "tests/support/sim_window.h"

#include <QComboBox>
#include <QPlainTextEdit>

SimWindow::SimWindow(const QStringList &simArguments) : sim(simArguments) { Open(); }

void SimWindow::Open() {
  ui::TypeInto(ui::Find<QComboBox>(&form, "SPREALCOM"), sim.Port());
  ui::Click(&form, "Button1");
  EXPECT_TRUE(form.Cycle().PortOpen());
}

QString SimWindow::Exchange(const char *button) {
  auto *memo = ui::Find<QPlainTextEdit>(&form, "Memo10");
  memo->clear();
  ui::Click(&form, button);
  EXPECT_TRUE(ui::WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000)) << button;
  EXPECT_TRUE(ui::WaitUntil([&] { return !ui::Timer(form, "Timer2")->isActive(); }, 1000));
  return memo->toPlainText();
}
