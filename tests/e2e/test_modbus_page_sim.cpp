// The "MODBUS Parameter Configuration" page against the simulated module: a profile and data
// formats are set, queried back, and the module's registers are read with the RTU test and decoded
// with the calculator.
#include <QComboBox>
#include <QGroupBox>

#include "tests/support/sim_window.h"

using namespace ui;

namespace {

TEST(ModbusPageWithSimulator, ProfileAndFormatsRoundTripAndRegistersDecode) {
  SimWindow w({"--frozen"});
  QWidget *f = &w.form;
  auto index = [&](const char *combo) { return Find<QComboBox>(f, combo)->currentIndex(); };

  // The module's defaults fill the page.
  EXPECT_TRUE(w.Exchange("Button31").startsWith("QQ0#"));
  EXPECT_EQ(index("ComboBox6"), 1);
  EXPECT_EQ(index("ComboBox17"), 0);
  EXPECT_EQ(Text(f, "ComboBox34"), "5");
  EXPECT_EQ(Text(f, "Edit1"), "060");
  EXPECT_FALSE(Find<QGroupBox>(f, "GroupBox13")->isHidden());
  EXPECT_EQ(Text(f, "ComboBox15"), "8");
  EXPECT_EQ(Text(f, "Beilv"), "0.001");

  // A custom command and parsing format, then a meter profile and data formats.
  Pick(f, "ComboBox28", 1);
  SetText(f, "Edit4", "01 03 00");
  EXPECT_EQ(w.Exchange("Button17"), "OK#");
  Pick(f, "RADCOM1", 1);
  SetText(f, "READADR1", "10");
  Pick(f, "READLG1", 1);
  for (const char *c : {"RADCOM3", "RADCOM5", "RADCOM7", "READLG3", "READLG5", "READLG7"}) Pick(f, c, 0);
  for (const char *e : {"READADR3", "READADR5", "READADR7"}) SetText(f, e, "0");
  Pick(f, "ComboBox15", 3);
  EXPECT_EQ(w.Exchange("Button12"), "OK#");

  Pick(f, "ComboBox16", 1);
  Pick(f, "ComboBox34", 2);
  SetText(f, "Edit1", "45");
  EXPECT_EQ(w.Exchange("Button10"), "OK#");
  const int formats[] = {1, 2, 3, 0, 1};
  const char *boxes[] = {"FAMOUT1", "FAMOUT3", "FAMOUT5", "FAMOUT7", "FAMOUT9"};
  for (int k = 0; k < 5; ++k) Pick(f, boxes[k], formats[k]);
  EXPECT_EQ(w.Exchange("Button21"), "OK#");

  for (int k = 0; k < 5; ++k) Pick(f, boxes[k], 0);
  Pick(f, "ComboBox34", 0);
  SetText(f, "Edit1", "");
  w.Exchange("Button31");
  EXPECT_EQ(index("ComboBox16"), 1);
  EXPECT_EQ(Text(f, "ComboBox34"), "6");
  EXPECT_EQ(Text(f, "Edit1"), "045");
  for (int k = 0; k < 5; ++k) EXPECT_EQ(index(boxes[k]), formats[k]) << boxes[k];
  EXPECT_EQ(index("ComboBox28"), 1);
  EXPECT_EQ(Text(f, "Edit4"), "01 03 00");
  EXPECT_EQ(index("RADCOM1"), 1);
  EXPECT_EQ(Text(f, "READADR1"), "10");
  EXPECT_EQ(index("READLG1"), 1);
  EXPECT_EQ(Text(f, "ComboBox15"), "6");

  // The RTU test reads the meter's ten registers: current, then the four variables.
  const QString reply = w.Exchange("Button4");
  EXPECT_EQ(Text(f, "Edit8"), "01 03 00 00 00 0A C5 CD ");
  const QStringList bytes = reply.split(' ', Qt::SkipEmptyParts);
  ASSERT_EQ(bytes.size(), 25) << reply.toStdString();
  EXPECT_EQ(bytes.mid(0, 3).join(' '), "01 03 14");
  auto value = [&](int k) { return bytes.mid(3 + 4 * k, 4).join(' '); };
  EXPECT_EQ(value(0), "00 00 41 40") << "12 mA, IEEE-754 with its words swapped";
  EXPECT_EQ(value(1), "00 00 00 3C") << "60 as an unsigned integer";
  EXPECT_EQ(value(2), "00 16 00 00") << "21.5 rounded, words swapped";
  EXPECT_EQ(value(4), "00 00 44 7A");

  // Variable 3 is plain IEEE-754: the calculator decodes the pair as it stands.
  SetText(f, "Edit7", value(3));
  Click(f, "Button13");
  EXPECT_EQ(Text(f, "Edit22"), "2.5");
  // Variable 4 after putting its words back in order.
  SetText(f, "Edit7", bytes.mid(21, 2).join(' ') + ' ' + bytes.mid(19, 2).join(' '));
  Click(f, "Button13");
  EXPECT_EQ(Text(f, "Edit22"), "1000");
  EXPECT_TRUE(w.catcher.Messages().empty());
}

}  // namespace
