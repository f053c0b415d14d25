// The program against the simulated module, as in the demo.
#include <QComboBox>
#include <QPushButton>

#include "app/main_window.h"
#include "tests/support/sim_process.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

TEST(WindowWithSimulator, SimulatorIsListedAndAnswersTheCommunicationQuery) {
  SimProcess sim;
  ASSERT_TRUE(sim.Running());
  TForm1 form;
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  EXPECT_EQ(port->itemText(0), "COM1");
  EXPECT_EQ(port->itemText(11), "COM12");
  EXPECT_EQ(port->currentText(), "COM4");
  const int index = port->findText(sim.Port());
  ASSERT_GE(index, 12) << "the simulator's port is not in the list";

  Pick(&form, "SPREALCOM", index);
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());

  Click(&form, "Button6");
  EXPECT_EQ(Text(&form, "Edit8"), "QQQ#QV#");
  EXPECT_TRUE(WaitForReceiveBox(form).contains("QV:"));
  // The parse 300 ms later ends the query and clears the kind.
  ASSERT_TRUE(WaitUntil([&] { return !Timer(form, "Timer2")->isActive(); }, 1000));
  EXPECT_EQ(form.Cycle().PendingReply(), 0);
  EXPECT_EQ(form.Cycle().TimeoutKind(), 0);
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  for (const char *b : {"Button16", "Button23", "Button31"}) EXPECT_TRUE(Find<QPushButton>(&form, b)->isEnabled());

  // Close and open again: the module still answers.
  Click(&form, "Button1");
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  Click(&form, "Button26");
  Click(&form, "Button6");
  EXPECT_TRUE(WaitForReceiveBox(form).contains("QV:"));
}

}  // namespace
