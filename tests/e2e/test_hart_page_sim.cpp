// The "Transparent Mode" page against the simulated instrument behind the module.
#include <QComboBox>

#include "tests/support/sim_window.h"

using namespace ui;

namespace {

TEST(HartPageWithSimulator, IdentityThenVariablesThenANewPollingAddress) {
  SimWindow w({"--frozen"});
  QWidget *f = &w.form;

  EXPECT_TRUE(w.Exchange("Button7").contains("FF 06 80 00 "));
  EXPECT_EQ(Text(f, "Edit28"), "38");
  EXPECT_EQ(Text(f, "Edit29"), "6");
  EXPECT_EQ(Text(f, "Edit31"), "5");
  EXPECT_EQ(Text(f, "Edit32"), "4660");

  EXPECT_TRUE(w.Exchange("Button16").contains("FF 86 A6 06 00 12 34 03 "));
  EXPECT_EQ(Text(f, "Edit25"), "60");
  EXPECT_EQ(Text(f, "Edit26"), "21.5");
  EXPECT_EQ(Text(f, "Edit27"), "2.5");
  EXPECT_EQ(Text(f, "Edit30"), "1000");
  EXPECT_EQ(Text(f, "HLabel2"), "60");
  EXPECT_EQ(Find<QComboBox>(f, "ComboBox3")->currentIndex(), 19);
  EXPECT_EQ(Find<QComboBox>(f, "ComboBox31")->currentIndex(), 12);
  EXPECT_EQ(Find<QComboBox>(f, "ComboBox32")->currentIndex(), 6);
  EXPECT_EQ(Find<QComboBox>(f, "ComboBox33")->currentIndex(), 34);

  // Polling address 3; the instrument then answers the identity query at address 3.
  Pick(f, "ComboBox27", 3);
  EXPECT_TRUE(w.Exchange("Button14").contains("FF 86 A6 06 00 12 34 06 "));
  Pick(f, "ComboBox30", 3);
  Pick(f, "ComboBox27", 0);
  EXPECT_TRUE(w.Exchange("Button7").contains("FF 06 83 00 "));
  EXPECT_EQ(Find<QComboBox>(f, "ComboBox27")->currentIndex(), 3);
  EXPECT_EQ(Text(f, "Edit32"), "4660");
  EXPECT_TRUE(w.catcher.Messages().empty());
}

}  // namespace
