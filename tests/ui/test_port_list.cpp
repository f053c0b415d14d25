// "Serial Port:" is rebuilt each time it is dropped down: adapters and simulators that appear
// after start-up are offered, those that went away are dropped, COM1..COM12 stay first and the
// user's text stays as it was.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <memory>

#include "app/main_window.h"
#include "tests/support/runtime_directory.h"
#include "tests/support/sim_process.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

QStringList Items(QComboBox *c) {
  QStringList items;
  for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
  return items;
}

void ExpectComPortsFirst(QComboBox *c) {
  ASSERT_GE(c->count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c->itemText(i), QStringLiteral("COM%1").arg(i + 1));
}

// Drops the list down with the mouse on the arrow, as a user does, and closes it again.
void DropDownWithMouse(QComboBox *c) {
  const QPoint arrow(c->width() - 6, c->height() / 2);
  QMouseEvent press(QEvent::MouseButtonPress, arrow, c->mapToGlobal(arrow), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(c, &press);
  EXPECT_TRUE(c->view()->isVisible()) << "the list did not drop down";
  c->hidePopup();
}

void DropDownWithKey(QComboBox *c) {
  QKeyEvent f4(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
  QApplication::sendEvent(c, &f4);
  EXPECT_TRUE(c->view()->isVisible()) << "the list did not drop down";
  c->hidePopup();
}

TEST(PortList, SimulatorStartedAfterTheWindowAppearsAndGoesWhenItEnds) {
  RuntimeDirectory runtime;  // the simulators of tests running beside this one publish elsewhere
  TForm1 form;
  form.show();
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  ASSERT_NE(port, nullptr);

  auto sim = std::make_unique<SimProcess>();
  ASSERT_TRUE(sim->Running());
  const QString simPort = sim->Port();
  EXPECT_LT(port->findText(simPort), 0) << "listed before the list was dropped down";

  DropDownWithMouse(port);
  ExpectComPortsFirst(port);
  const int at = port->findText(simPort);
  EXPECT_GE(at, 12);
  // Nothing the user chose changed: still COM4, and no handler saw a pick.
  EXPECT_EQ(port->currentIndex(), 3);
  EXPECT_EQ(port->currentText(), "COM4");

  // Dropping it down again with nothing new leaves the list as it is.
  const QStringList before = Items(port);
  DropDownWithKey(port);
  EXPECT_EQ(Items(port), before);

  // The user picks the simulator; then it ends. The entry goes, the chosen text stays.
  Pick(&form, "SPREALCOM", at);
  sim.reset();
  DropDownWithMouse(port);
  ExpectComPortsFirst(port);
  EXPECT_LT(port->findText(simPort), 0);
  EXPECT_EQ(port->currentText(), simPort);
}

TEST(PortList, TypedTextAndComSelectionSurviveTheRebuild) {
  RuntimeDirectory runtime;
  SimProcess sim;  // something to add, so that the list really is rebuilt
  TForm1 form;
  form.show();
  auto *port = Find<QComboBox>(&form, "SPREALCOM");
  ASSERT_NE(port, nullptr);

  // A name typed over the selected COM4.
  TypeInto(port, QStringLiteral("/dev/ttyS7"));
  SimProcess later;
  DropDownWithKey(port);
  ExpectComPortsFirst(port);
  EXPECT_GE(port->findText(later.Port()), 12);
  EXPECT_EQ(port->currentText(), "/dev/ttyS7");

  // COM9 picked from the list stays picked.
  Pick(&form, "SPREALCOM", 8);
  SimProcess third;
  DropDownWithMouse(port);
  EXPECT_GE(port->findText(third.Port()), 12);
  EXPECT_EQ(port->currentIndex(), 8);
  EXPECT_EQ(port->currentText(), "COM9");
}

// A stable name stands for its device; a device without one is listed by its own name.
TEST(PortList, FoundDevicesPreferTheirStableNames) {
  QTemporaryDir dev;
  ASSERT_TRUE(dev.isValid());
  const QString root = dev.path();
  ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("serial/by-id")));
  // Character devices stand in for the adapters.
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), root + "/ttyUSB0"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), root + "/ttyACM3"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), root + "/ttyUSB1"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), root + "/ttyS0"));  // not an adapter name
  QFile plain(root + "/ttyUSB9");  // a plain file is no device
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString stable = root + "/serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0";
  ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB0"), stable));

  EXPECT_EQ(TForm1::FoundSerialDevices(root), (QStringList{stable, root + "/ttyACM3", root + "/ttyUSB1"}));
  EXPECT_TRUE(TForm1::FoundSerialDevices(root + "/missing").isEmpty());
}

}  // namespace
