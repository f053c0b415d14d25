#include "tests/support/sim_window.h"

#include <QComboBox>
#include <QPlainTextEdit>

SimWindow::SimWindow(const QStringList &simArguments) : sim(simArguments) { Open(); }

void SimWindow::Open() {
  ui::TypeInto(ui::Find<QComboBox>(&form, "SPREALCOM"), sim.Port());
  ui::Click(&form, "Button1");
  EXPECT_EQ(form.PortOpen, 1);
}

QString SimWindow::Exchange(const char *button) {
  auto *memo = ui::Find<QPlainTextEdit>(&form, "Memo10");
  memo->clear();
  ui::Click(&form, button);
  EXPECT_TRUE(ui::WaitUntil([&] { return !memo->toPlainText().isEmpty(); }, 3000)) << button;
  EXPECT_TRUE(ui::WaitUntil([&] { return !form.Timer2.Enabled(); }, 1000));
  return memo->toPlainText();
}
