// The "System Parameters" page against the simulated module: what is set is read back.
#include <QComboBox>

#include "tests/support/sim_window.h"

using namespace ui;

namespace {


int Index(QWidget *f, const char *combo) { return Find<QComboBox>(f, combo)->currentIndex(); }

TEST(SystemPageWithSimulator, SettingsAreReadBackByTheSystemParameterQuery) {
  SimWindow w;
  QWidget *f = &w.form;
  EXPECT_TRUE(w.Exchange("Button6").contains("QV:"));

  SetText(f, "Edit14", "017");
  EXPECT_EQ(w.Exchange("Button29"), "OK#");
  Pick(f, "ComboBox7", 1);
  EXPECT_EQ(w.Exchange("Button24"), "OK#");
  Pick(f, "ComboBox12", 4);
  EXPECT_EQ(w.Exchange("Button15"), "OK#");
  SetText(f, "Edit6", "25");
  EXPECT_EQ(w.Exchange("Button27"), "OK#");
  SetText(f, "AD1H", "30.5");
  SetText(f, "AD1L", "2");
  SetText(f, "AD1LD", "100");
  EXPECT_EQ(w.Exchange("AD1SET"), "OK#");
  SetText(f, "Edit2", "1.25");
  EXPECT_EQ(w.Exchange("Button5"), "OK#");
  SetText(f, "Edit3", "1234");
  EXPECT_EQ(w.Exchange("Button11"), "OK#");
  SetText(f, "PUSET3", "42");
  EXPECT_EQ(w.Exchange("PButton52"), "OK#");
  SetText(f, "PUSET1XIAO", "7");
  EXPECT_EQ(w.Exchange("Button3"), "OK#");

  // Scramble the page, then read everything back.
  for (const char *box : {"Edit14", "Edit6", "AD1H", "AD1L", "AD1LD", "Edit2", "Edit3"}) SetText(f, box, "");
  Pick(f, "ComboBox7", 0);
  Pick(f, "ComboBox12", 0);
  EXPECT_TRUE(w.Exchange("Button23").contains("QX"));
  EXPECT_EQ(Text(f, "Edit14"), "017");
  EXPECT_EQ(Text(f, "Edit18"), "017");
  EXPECT_EQ(Index(f, "ComboBox7"), 1);
  EXPECT_EQ(Index(f, "ComboBox14"), 1);
  EXPECT_EQ(Index(f, "ComboBox12"), 4);
  EXPECT_EQ(Text(f, "Edit6"), "025");
  EXPECT_EQ(Text(f, "AD1H"), "030.50");
  EXPECT_EQ(Text(f, "AD1L"), "002.00");
  EXPECT_EQ(Text(f, "AD1LD"), "00100");
  EXPECT_EQ(Text(f, "Edit2"), "1.250");
  EXPECT_EQ(Text(f, "Edit3"), "1234");

  // The RS485 line settings: the port closes 2 s after the command; reopen and read them back.
  Pick(f, "ComboBox8", 5);
  Pick(f, "ComboBox9", 2);
  EXPECT_EQ(w.Exchange("Button9"), "OK#");
  ASSERT_TRUE(WaitUntil([&] { return !w.form.Cycle().PortOpen(); }, 3000));
  w.Open();
  Pick(f, "ComboBox8", 0);
  Pick(f, "ComboBox9", 0);
  w.Exchange("Button23");
  EXPECT_EQ(Text(f, "ComboBox8"), "38400");
  EXPECT_EQ(Text(f, "ComboBox9"), "Even");

  // "Parameter Initialization" brings the module's settings back to their start values.
  EXPECT_EQ(w.Exchange("Button30"), "OK#");
  w.Exchange("Button23");
  EXPECT_EQ(Text(f, "Edit14"), "001");
  EXPECT_EQ(Index(f, "ComboBox7"), 0);
  EXPECT_EQ(Text(f, "ComboBox8"), "9600");
  EXPECT_EQ(Text(f, "ComboBox9"), "None");
  EXPECT_EQ(Text(f, "Edit6"), "010");

  // The board data and the AD channel query are answered and shown as text.
  SetText(f, "PCBSN", "20261208");
  EXPECT_EQ(w.Exchange("Button60"), "OK#");
  EXPECT_EQ(w.form.Cycle().PendingReply(), 202) << "the board data command leaves the query pending";
  EXPECT_TRUE(w.Exchange("Button8").startsWith("QVAL:"));
}

}  // namespace
