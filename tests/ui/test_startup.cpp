// The window right after start: every control with its kind, place, items, text and selection,
// the timers, the hidden coefficient group and the pages.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "tests/support/ui_driver.h"

using ui::Find;

namespace {

const QStringList kUnits = {
    "inH20", "inhg", "FtH20", "mmH20", "mmHg", "psi", "bar", "mbar", "Pa", "KPa", "ATM", "MPa",
    QString::fromUtf8("℃"), QString::fromUtf8("℉"), "R", "Kelvin", "CuFt_min", "gal_min", "l_min",
    "CuMtr_hr", "l_s", "Cuft_s", "CuMtr_s", "CuMtr_min", "gal_hr", "l_hr", "ft_s", "mtr_s", "in_s",
    "in_min", "ft_min", "mtr_hr", "gal", "liter", "CuMtr", "bbl", "CuYd", "CuFt", "CuIn", "bbl_liq",
    "ft", "M", "in", "cm", "mm", "gram", "kg", "MetTon", "lb", "ounce", "g_s", "g_min", "g_hr", "kg_s",
    "kg_min", "metTOM_min", "metton_hr", "lb_s", "lb_min", "lb_hr", "g_CuCM", "KG_CuMtr", "lb_gal",
    "lb_Cuft", "g_ml", "kb_l", "g_l", "centi_stokes", "cpoise", "mewtom_meter", "deka_therm",
    "foot_pound_force", "kilo_watt_hour", "mega_joule", "british_thermal_unit", "%", "other"};

const QStringList kMeterTypes = {
    "0)Custom Meter", "1)Currency Meter", "2)KROHEN_IFC070", "3)KROHEN_IFC300", "4)KROHEN_IFC090",
    "5)Siemens_MG500", "6)Siemens_FUS010(FUS060)", "7)Siemens_MASS600", "8)ABB_FIX100", "9)ABB_FMT200",
    "10)MP3", "11)HT56", "12)F56", "13)3051AMV", "14)SIERRA", "15)Yokogawa"};

const QStringList kCloseOpen = {"0 Close", "1 Open"};
const QStringList kFloatFormats = {"0 IEE754 (FF4 FF3 FF2 FF1)", "1 IEE754 (FF2 FF1 FF4 FF3)"};
const QStringList kAllFormats = kFloatFormats + QStringList{"2 Uint32 (FF4 FF3 FF2 FF1)", "3 Uint32 (FF2 FF1 FF4 FF3)"};
const QStringList kCommands = {"0 Not analytic", "1 Command 1", "2 Command 2"};
const QStringList kLengths = {"4 byte", "8 byte"};

QStringList Numbers(int from, int to) {
  QStringList out;
  for (int i = from; i <= to; ++i) out << QString::number(i);
  return out;
}

std::string ParentName(const QWidget *w) {
  return w->parentWidget() ? w->parentWidget()->objectName().toStdString() : std::string();
}

std::string Str(const QString &s) { return s.toStdString(); }
std::string Str(const QStringList &list) { return list.join(QStringLiteral(" | ")).toStdString(); }

class StartupTest : public ::testing::Test {
 protected:
  TForm1 form_;
};

TEST_F(StartupTest, WindowAndPages) {
  EXPECT_EQ(Str(form_.windowTitle()), "RQ735");
  EXPECT_EQ(form_.size(), QSize(1093, 651));
  // The test screen is narrower than the window and too short for its stored place: the window
  // starts at the left edge and moves up until it shows whole.
  const QRect area = form_.screen()->availableGeometry();
  ASSERT_LT(area.width(), 1093);
  EXPECT_EQ(form_.x(), area.x());
  EXPECT_EQ(form_.geometry().bottom(), std::min(area.bottom(), 174 + 650));
  EXPECT_EQ(form_.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));

  auto *pages = Find<QTabWidget>(&form_, "PageControl1");
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(ParentName(pages), "centralwidget");
  const std::vector<std::pair<const char *, const char *>> expected = {
      {"TabSheet1", "System Parameters"},
      {"TabSheet2", "Transparent Mode"},
      {"TabSheet3", "MODBUS Parameter Configuration"},
      {"TabSheet9", "Two-Wire Instrument Wiring Diagram"},
      {"TabSheet4", "Four-Wire Instrument Wiring Diagram"}};
  ASSERT_EQ(pages->count(), static_cast<int>(expected.size()));
  for (int i = 0; i < pages->count(); ++i) {
    EXPECT_EQ(Str(pages->widget(i)->objectName()), expected[i].first);
    EXPECT_EQ(Str(pages->tabText(i)), expected[i].second);
  }
  EXPECT_EQ(pages->currentIndex(), 0);

  // Every designer name is used once.
  std::map<QString, int> names;
  for (QObject *o : form_.findChildren<QObject *>())
    if (!o->objectName().isEmpty() && !o->objectName().startsWith("qt_")) ++names[o->objectName()];
  for (const auto &[name, count] : names) EXPECT_EQ(count, 1) << name.toStdString();
}

TEST_F(StartupTest, PicturesAndHeader) {
  const struct {
    const char *name, *parent;
    QSize widget, picture;
  } images[] = {
      {"Image1", "centralwidget", QSize(105, 41), QSize(210, 82)},
      {"Image7", "TabSheet9", QSize(1040, 390), QSize(1040, 390)},
      {"Image2", "TabSheet4", QSize(1040, 390), QSize(1040, 390)},
  };
  for (const auto &i : images) {
    auto *label = Find<QLabel>(&form_, i.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(ParentName(label), i.parent) << i.name;
    EXPECT_EQ(label->size(), i.widget) << i.name;
    const QPixmap pixmap = label->pixmap();
    ASSERT_FALSE(pixmap.isNull()) << i.name;
    EXPECT_EQ(pixmap.size(), i.picture) << i.name;
  }
  EXPECT_TRUE(Find<QLabel>(&form_, "Image1")->hasScaledContents());

  auto *title = Find<QLabel>(&form_, "Label41");
  EXPECT_EQ(Str(title->text()), "RQ735 Intelligent Converter Configure Software");
  EXPECT_TRUE(title->font().bold());
  EXPECT_EQ(title->width(), 630);

  // Labels with a fixed caption, and where they stand.
  const std::vector<std::tuple<const char *, const char *, QString>> labels = {
      {"Label77", "centralwidget", "V5.9(Feb 20.2020)"},
      {"Label8", "centralwidget", ""},
      {"Label4", "centralwidget", "E-mail: support@example.com"},
      {"Label75", "centralwidget", "Tel: +00 000 0000 0000"},
      {"Label73", "centralwidget", "Web: www.example.com"},
      {"Label40", "centralwidget", "Send Buffer:"},
      {"Label60", "centralwidget", "Receive Buffer:"},
      {"Label16", "GroupBox21", "Enable when using USB-to-RS232 + RS232-to-RS485 converters"},
      {"Label74", "GroupBox21", ""},
      {"Label52", "TabSheet1", ""},
      {"Label68", "GroupBox3", "Current(RTU_ADR)"},
      {"Label69", "GroupBox3", "Variable_1(RTU_ADR)"},
      {"Label70", "GroupBox3", "Variable_2(RTU_ADR)"},
      {"Label71", "GroupBox3", "Variable_3(RTU_ADR)"},
      {"Label72", "GroupBox3", "Variable_4(RTU_ADR)"},
      {"Label19", "GroupBox3", "40001:"},
      {"Label24", "GroupBox3", "40003:"},
      {"Label27", "GroupBox3", "40005:"},
      {"Label28", "GroupBox3", "40007:"},
      {"Label29", "GroupBox3", "40009:"},
      {"HLabel1", "GroupBox3", "00000"},
      {"HLabel2", "GroupBox3", "00000"},
      {"HLabel3", "GroupBox3", "00000"},
      {"HLabel4", "GroupBox3", "00000"},
      {"HLabel5", "GroupBox3", "00000"},
  };
  for (const auto &[name, parent, text] : labels) {
    auto *l = Find<QLabel>(&form_, name);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(ParentName(l), parent) << name;
    EXPECT_EQ(Str(l->text()), Str(text)) << name;
  }
  EXPECT_EQ(Find<QLabel>(&form_, "Label74")->size(), QSize(41, 25));
  for (const char *aqua : {"Label16", "Label68"}) {
    auto *l = Find<QLabel>(&form_, aqua);
    EXPECT_TRUE(l->autoFillBackground()) << aqua;
    EXPECT_EQ(l->palette().color(l->backgroundRole()), QColor(0x00, 0xFF, 0xFF)) << aqua;
  }

  auto *send = Find<QLineEdit>(&form_, "Edit8");
  EXPECT_EQ(ParentName(send), "centralwidget");
  EXPECT_EQ(send->width(), 865);
  EXPECT_TRUE(send->text().isEmpty());
  auto *receive = Find<QPlainTextEdit>(&form_, "Memo10");
  EXPECT_EQ(ParentName(receive), "centralwidget");
  EXPECT_EQ(receive->size(), QSize(881, 65));
  EXPECT_EQ(receive->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(receive->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_TRUE(receive->toPlainText().isEmpty());
}

TEST_F(StartupTest, GroupsAndTheirCaptions) {
  const std::vector<std::tuple<const char *, const char *, QString>> groups = {
      {"GroupBox15", "TabSheet1", ""},
      {"GroupBox7", "TabSheet1", ""},
      {"GroupBox2", "TabSheet1", ""},
      {"GroupBox14", "TabSheet1", ""},
      {"GroupBox1", "TabSheet1", "Serial Port Parameters"},
      {"GroupBox18", "TabSheet1", "RS485 Communication Parameter Setting"},
      {"GroupBox21", "TabSheet1", ""},
      {"GroupBox4", "TabSheet1", "Totalizer"},
      {"GroupBox9", "TabSheet1", "Low Flow Cutoff"},
      {"GroupBox22", "TabSheet1", "Totalization channel parameters"},
      {"GroupBox23", "TabSheet1", "Coefficient"},
      {"GroupBoxBoard", "TabSheet1", ""},
      {"GroupBox5", "TabSheet2", ""},
      {"GroupBox8", "GroupBox5", "HART Device Basic Parameters"},
      {"GroupBox10", "GroupBox5", "Universal HART Real-Time Data"},
      {"GroupBox6", "GroupBox5", "HART Address Configuration"},
      {"GroupBox20", "TabSheet2", ""},
      {"GroupBox3", "TabSheet3", ""},
      {"GroupBox13", "TabSheet3", "Custom HART Command Parsing"},
      {"GroupBox16", "GroupBox13", "Custom HART Data Parsing Format"},
      {"GroupBox19", "TabSheet3", "Modbus Communication Test"},
      {"GroupBox12", "TabSheet3", "IEE754 Calculation"},
      {"GroupBox11", "TabSheet3", "Module Operation Mode"},
      {"GroupBox17", "TabSheet3", "Variable 1 Coefficient"},
  };
  for (const auto &[name, parent, title] : groups) {
    auto *g = Find<QGroupBox>(&form_, name);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(ParentName(g), parent) << name;
    EXPECT_EQ(Str(g->title()), Str(title)) << name;
  }

  // The captions without a designer name, each in its group.
  const std::vector<std::pair<const char *, QStringList>> captions = {
      {"GroupBox15", {"MODBUS slave address:"}},
      {"GroupBox7", {"Module working mode"}},
      {"GroupBox2", {"RS485A Data Return Time:"}},
      {"GroupBox14", {"HART instrument communication interval time", " *10 ms"}},
      {"GroupBox1", {"Serial Port:", "Baud Rate:", "Parity:"}},
      {"GroupBox18", {"Baud Rate:", "Parity:"}},
      {"GroupBox4", {"URV", "LRV", "Starting Point", "AD1:"}},
      {"GroupBox9", {"AD1 Channel:"}},
      {"GroupBox22", {"Integer LSD:", "Decimal LSD:"}},
      {"GroupBox23", {"/10000"}},
      {"GroupBoxBoard", {"PCBSN:", "Inspector:"}},
      {"GroupBox5", {"HART Address:", "HART Command Mode:", "Preamble Length:"}},
      {"GroupBox8", {"Manufacturing ID:", "Sensor Type:", "Preamble Byte Count:", "Sensor Serial Number:"}},
      {"GroupBox10", {"Current_Variable_1:", "Current_Variable_2:", "Current_Variable_3:", "Current_Variable_4:",
                      "Unit:", "Unit:", "Unit:", "Unit:"}},
      {"GroupBox6", {"HART Address:"}},
      {"GroupBox20", {"HEX  (76 89 FD AD)", "Manual HART Command:", "(Auto Generate Checksum)"}},
      {"GroupBox3", {"Meter ID:", "Enabled:", "Device Mode:", "Meter Type:", "Preamble Length:",
                     "Buffer Clear Time:", "S"}},
      {"GroupBox13", {"Read Meter Command 1:", "Read Meter Command 2:"}},
      {"GroupBox16", {"Command Number", "Start Adr.", "Data Length", "Variable_1:", "Variable_2:", "Variable_3:",
                      "Variable_4:", "Address Bits:"}},
      {"GroupBox19", {"MODBUS Slave Address:", "MODBUS Start Address:", "Read Data Length:"}},
      {"GroupBox12", {"Data Formt HEX(FF FF FF FF):", "Value:"}},
      {"GroupBox17", {"Coefficient:"}},
  };
  for (const auto &[group, texts] : captions) {
    QStringList shown;
    for (QLabel *l : form_.findChild<QGroupBox *>(group)->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
      shown << l->text();
    for (const QString &t : texts) {
      EXPECT_TRUE(shown.removeOne(t)) << group << ": no label \"" << t.toStdString() << "\"";
    }
  }
}

TEST_F(StartupTest, ButtonsAndCheckBoxes) {
  const std::vector<std::tuple<const char *, const char *, const char *>> buttons = {
      {"Button29", "GroupBox15", "Set"},
      {"Button24", "GroupBox7", "Set"},
      {"Button15", "GroupBox2", "Set"},
      {"Button27", "GroupBox14", "Set"},
      {"Button23", "TabSheet1", "System Parameter"},
      {"Button1", "GroupBox1", "Open"},
      {"Button6", "GroupBox1", "Communication Query"},
      {"Button9", "GroupBox18", "Set"},
      {"Button30", "TabSheet1", "Parameter Initialization"},
      {"AD1SET", "GroupBox4", "Set"},
      {"Button5", "GroupBox9", "Set"},
      {"PButton52", "GroupBox22", "Set"},
      {"Button3", "GroupBox22", "Set"},
      {"Button11", "GroupBox23", "Set"},
      {"Button60", "GroupBoxBoard", "Set"},
      {"Button8", "TabSheet1", "AD Channel Query"},
      {"Button7", "GroupBox8", "HART Device Parameter Query"},
      {"Button16", "GroupBox10", "HART Command Query"},
      {"Button14", "GroupBox6", "Set"},
      {"InstrumentButton", "GroupBox5", "Instrument..."},
      {"Button20", "GroupBox20", "Send"},
      {"Button10", "GroupBox3", "Set"},
      {"Button21", "GroupBox3", "Set"},
      {"Button31", "TabSheet3", "MODBUS Parameter Query"},
      {"Button17", "GroupBox13", "Set"},
      {"Button18", "GroupBox13", "Set"},
      {"Button12", "GroupBox16", "Set"},
      {"Button4", "GroupBox19", "MODBUS Comm Test"},
      {"Button13", "GroupBox12", "Calculation"},
      {"Button22", "GroupBox11", "Set"},
      {"Button2", "GroupBox17", "Set"},
      {"Button26", "centralwidget", "Clear Buffer"},
      {"MonitorButton", "centralwidget", "Monitor..."},
  };
  for (const auto &[name, parent, caption] : buttons) {
    auto *b = Find<QPushButton>(&form_, name);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(ParentName(b), parent) << name;
    EXPECT_EQ(Str(b->text()), caption) << name;
    // All of them, "Communication Query" included, can be pressed before the port is opened.
    EXPECT_TRUE(b->isEnabled()) << name;
  }
  EXPECT_EQ(static_cast<size_t>(form_.findChildren<QPushButton *>().size()), buttons.size());

  for (const auto &[name, caption] : {std::pair{"CheckBox1", "COM_RTS"}, std::pair{"CheckBox2", "COM_DTR"}}) {
    auto *c = Find<QCheckBox>(&form_, name);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ParentName(c), "GroupBox21");
    EXPECT_EQ(Str(c->text()), caption);
    EXPECT_FALSE(c->isChecked());
  }
}

TEST_F(StartupTest, EditBoxesAfterStart) {
  const std::vector<std::tuple<const char *, const char *, const char *>> edits = {
      {"Edit14", "GroupBox15", "001"},      {"Edit6", "GroupBox14", "010"},
      {"AD1H", "GroupBox4", ""},            {"AD1L", "GroupBox4", ""},
      {"AD1LD", "GroupBox4", ""},           {"Edit2", "GroupBox9", "0.000"},
      {"PUSET3", "GroupBox22", "0000000"},  {"PUSET1XIAO", "GroupBox22", "000"},
      {"Edit3", "GroupBox23", "10000"},     {"PCBSN", "GroupBoxBoard", "00000000"},
      {"Edit9", "GroupBox5", "6"},          {"Edit28", "GroupBox8", ""},
      {"Edit29", "GroupBox8", ""},          {"Edit31", "GroupBox8", ""},
      {"Edit32", "GroupBox8", ""},          {"Edit25", "GroupBox10", ""},
      {"Edit26", "GroupBox10", ""},         {"Edit27", "GroupBox10", ""},
      {"Edit30", "GroupBox10", ""},         {"Edit10", "GroupBox20", ""},
      {"Edit1", "GroupBox3", ""},           {"Edit4", "GroupBox13", ""},
      {"Edit5", "GroupBox13", ""},          {"READADR1", "GroupBox16", ""},
      {"READADR3", "GroupBox16", ""},       {"READADR5", "GroupBox16", ""},
      {"READADR7", "GroupBox16", ""},       {"Edit18", "GroupBox19", "001"},
      {"Edit19", "GroupBox19", "00"},       {"Edit20", "GroupBox19", "10"},
      {"Edit7", "GroupBox12", ""},          {"Edit22", "GroupBox12", ""},
      {"Beilv", "GroupBox17", "0.001"},
  };
  for (const auto &[name, parent, text] : edits) {
    auto *e = Find<QLineEdit>(&form_, name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(ParentName(e), parent) << name;
    EXPECT_EQ(Str(e->text()), text) << name;
    EXPECT_EQ(e->maxLength(), 32767) << name;  // no length limit beyond Qt's own
  }
}

TEST_F(StartupTest, ListsAndSelectionsAfterStart) {
  struct Combo {
    const char *name, *parent;
    QStringList items;
    int index;
    QString text;
    bool editable = true;
  };
  const std::vector<Combo> combos = {
      {"ComboBox7", "GroupBox7", {"Transparent Working Mode", "MODBUS Single Instrument Working Mode"}, 0,
       "Transparent Working Mode"},
      {"ComboBox12", "GroupBox2", {"0 50ms", "1 100ms", "2 200ms", "3 300ms", "4 400ms", "5 500ms"}, 0, "0 50ms"},
      {"ComboBox11", "GroupBox1", {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "15200"}, 3, "9600"},
      {"ComboBox10", "GroupBox1", {"None", "Odd", "Even"}, 0, "None"},
      {"ComboBox8", "GroupBox18", {"1200", "2400", "4800", "9600", "19200", "38400", "57600"}, 3, "9600"},
      {"ComboBox9", "GroupBox18", {"None", "Odd", "Even"}, 0, "None"},
      {"JIANZHI", "GroupBoxBoard",
       {"001", "002", "003", "004", "005", "006", "006", "008", "009", "101", "102", "103", "104"}, 0, "001"},
      {"ComboBox30", "GroupBox5", Numbers(0, 15), 0, "0"},
      {"ComboBox42", "GroupBox5", {"Master Mode", "Secondary Master Mode"}, 0, "Master Mode"},
      {"ComboBox3", "GroupBox10", kUnits, -1, "inH20 "},
      {"ComboBox31", "GroupBox10", kUnits, -1, "inH20 "},
      {"ComboBox32", "GroupBox10", kUnits, -1, "inH20 "},
      {"ComboBox33", "GroupBox10", kUnits, -1, "inH20 "},
      {"ComboBox27", "GroupBox6", Numbers(0, 8), 0, "0"},
      {"ComboBox41", "GroupBox3", {"Device 0"}, 0, "Device 0"},
      {"ComboBox6", "GroupBox3", kCloseOpen, -1, ""},
      {"ComboBox16", "GroupBox3", {"Secondary Master Device", "Master Device"}, 0, "Secondary Master Device"},
      {"ComboBox17", "GroupBox3", kMeterTypes, 0, "0)Custom Meter", false},
      {"ComboBox34", "GroupBox3", Numbers(4, 9), 0, "4"},
      {"FAMOUT1", "GroupBox3", kFloatFormats, -1, ""},
      {"FAMOUT3", "GroupBox3", kAllFormats, -1, ""},
      {"FAMOUT5", "GroupBox3", kAllFormats, -1, ""},
      {"FAMOUT7", "GroupBox3", kAllFormats, -1, ""},
      {"FAMOUT9", "GroupBox3", kAllFormats, -1, ""},
      {"ComboBox28", "GroupBox13", kCloseOpen, -1, ""},
      {"ComboBox29", "GroupBox13", kCloseOpen, -1, ""},
      {"RADCOM1", "GroupBox16", kCommands, -1, ""},
      {"RADCOM3", "GroupBox16", kCommands, -1, ""},
      {"RADCOM5", "GroupBox16", kCommands, -1, ""},
      {"RADCOM7", "GroupBox16", kCommands, -1, ""},
      {"READLG1", "GroupBox16", kLengths, -1, ""},
      {"READLG3", "GroupBox16", kLengths, -1, ""},
      {"READLG5", "GroupBox16", kLengths, -1, ""},
      {"READLG7", "GroupBox16", kLengths, -1, ""},
      {"ComboBox15", "GroupBox16", Numbers(3, 9), 5, "8"},
      {"ComboBox14", "GroupBox11", {"0_Transparent Mode", "1_ModbusRtu Single mode", "2_ModbusRtu Multiple mode"}, 0,
       "0_Transparent Mode"},
      {"ComboBox18", "GroupBox17",
       {"0 Close", "1 M3/S-->M3/H", "2 variable 1 coefficient",
        "3 Variable 1 coefficient * 100 rounded to the nearest integer"},
       0, "0 Close"},
  };
  for (const Combo &c : combos) {
    auto *box = Find<QComboBox>(&form_, c.name);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ParentName(box), c.parent) << c.name;
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    EXPECT_EQ(Str(items), Str(c.items)) << c.name;
    EXPECT_EQ(box->currentIndex(), c.index) << c.name;
    EXPECT_EQ(Str(box->currentText()), Str(c.text)) << c.name;
    EXPECT_EQ(box->isEditable(), c.editable) << c.name;
    // Typed text never becomes a new item.
    if (c.editable) {
      EXPECT_EQ(box->insertPolicy(), QComboBox::NoInsert) << c.name;
    }
  }
  EXPECT_EQ(Find<QComboBox>(&form_, "ComboBox17")->maxVisibleItems(), 16);
  EXPECT_EQ(Find<QComboBox>(&form_, "ComboBox41")->maxVisibleItems(), 9);

  // The port list: COM1 to COM12 first, whatever devices were found after them.
  auto *port = Find<QComboBox>(&form_, "SPREALCOM");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(ParentName(port), "GroupBox1");
  ASSERT_GE(port->count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(Str(port->itemText(i)), "COM" + std::to_string(i + 1));
  EXPECT_EQ(port->currentIndex(), 3);
  EXPECT_EQ(Str(port->currentText()), "COM4");
  EXPECT_TRUE(port->isEditable());
}

TEST_F(StartupTest, TimersAndCoefficientGroup) {
  const struct {
    const char *name;
    bool active;
    int interval;
  } timers[] = {{"Timer2", false, 300}, {"Timer3", false, 1000}, {"Timer4", false, 1000}, {"Timer5", true, 1000}};
  for (const auto &t : timers) {
    auto *timer = form_.findChild<QTimer *>(t.name, Qt::FindDirectChildrenOnly);
    ASSERT_NE(timer, nullptr) << t.name;
    EXPECT_EQ(timer->isActive(), t.active) << t.name;
    EXPECT_EQ(timer->interval(), t.interval) << t.name;
  }

  form_.show();
  auto *group = Find<QGroupBox>(&form_, "GroupBox23");
  auto *label = Find<QLabel>(&form_, "Label74");
  EXPECT_TRUE(group->isHidden());
  EXPECT_FALSE(group->isVisible());

  const QPointF centre(label->width() / 2.0, label->height() / 2.0);
  for (int round = 0; round < 2; ++round) {
    QMouseEvent click(QEvent::MouseButtonDblClick, centre, label->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(label, &click);
    EXPECT_TRUE(group->isVisible()) << "after double click " << round + 1;
  }
}

// The state a user could see or a handler could read, page switching aside.
std::vector<std::string> Snapshot(TForm1 &form) {
  std::vector<std::string> out;
  for (QWidget *w : form.findChildren<QWidget *>()) {
    const QString name = w->objectName();
    if (name.isEmpty() || name.startsWith("qt_") || name.startsWith("TabSheet") || name == "PageControl1") continue;
    QString s = name + QStringLiteral(" enabled=%1 hidden=%2").arg(w->isEnabled()).arg(w->isHidden());
    if (auto *e = qobject_cast<QLineEdit *>(w)) s += " text=" + e->text();
    if (auto *m = qobject_cast<QPlainTextEdit *>(w)) s += " text=" + m->toPlainText();
    if (auto *c = qobject_cast<QComboBox *>(w)) s += QStringLiteral(" index=%1 text=%2").arg(c->currentIndex()).arg(c->currentText());
    if (auto *b = qobject_cast<QAbstractButton *>(w)) s += QStringLiteral(" text=%1 checked=%2").arg(b->text()).arg(b->isChecked());
    if (auto *l = qobject_cast<QLabel *>(w)) s += " text=" + l->text();
    out.push_back(Str(s));
  }
  std::sort(out.begin(), out.end());  // showing a page reorders the children
  const RequestCycle &cycle = form.Cycle();
  out.push_back(Str(QStringLiteral("pending=%1 kind=%2 open=%3")
                        .arg(cycle.PendingReply())
                        .arg(cycle.TimeoutKind())
                        .arg(cycle.PortOpen())));
  for (const char *name : {"Timer2", "Timer3", "Timer4", "Timer5"}) {
    const QTimer *t = ui::Timer(form, name);
    out.push_back(Str(QStringLiteral("timer %1 %2").arg(t->isActive()).arg(t->interval())));
  }
  return out;
}

TEST_F(StartupTest, SwitchingPagesChangesNothingElse) {
  form_.show();
  auto *pages = Find<QTabWidget>(&form_, "PageControl1");
  const auto before = Snapshot(form_);
  for (int i : {1, 2, 3, 4, 0, 2}) {
    pages->setCurrentIndex(i);
    ui::Pump(5);
    const auto after = Snapshot(form_);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) EXPECT_EQ(after[k], before[k]) << "after page " << i;
  }
}

}  // namespace
