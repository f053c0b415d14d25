// The window's shared pieces: list selections, the error display text, refusals, timers.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>

#include "app/conversions.h"
#include "app/error_display.h"
#include "app/frame_writer.h"
#include "app/list_positions.h"
#include "app/main_window.h"
#include "app/screen_place.h"
#include "app/ttimer.h"
#include "protocol/int_text.h"
#include "tests/support/ui_driver.h"

namespace {

TEST(Selections, OutOfListIndexesLeaveNoSelectionAndNoText) {
  QComboBox combo;
  combo.setEditable(true);
  combo.addItems({"None", "Odd", "Even"});
  SetItemIndex(&combo, 2);
  EXPECT_EQ(ItemIndex(&combo), 2);
  EXPECT_EQ(combo.currentText(), "Even");
  for (int index : {3, -1, 100, -5}) {
    SetItemIndex(&combo, 1);
    SetItemIndex(&combo, index);
    EXPECT_EQ(ItemIndex(&combo), -1) << index;
    EXPECT_EQ(combo.currentText(), "") << index;
  }
  // Typed text selects the item it spells, and no item when it spells none.
  SetItemIndex(&combo, 0);
  ui::TypeInto(&combo, "Nonsense");
  EXPECT_EQ(ItemIndex(&combo), -1);
  ui::TypeInto(&combo, "Odd");
  EXPECT_EQ(ItemIndex(&combo), 1);

  QComboBox fixed;
  fixed.addItems({"a", "b"});
  SetItemIndex(&fixed, 5);
  EXPECT_EQ(ItemIndex(&fixed), -1);
}

TEST(WindowPlace, TheStoredPlaceIsKeptWhereTheScreenHoldsTheWindow) {
  const QRect stored(411, 174, 1093, 651);
  EXPECT_EQ(PlaceInside(stored, QRect(0, 0, 1920, 1050)), QPoint(411, 174));
  // A laptop screen: moved in just enough on both axes.
  EXPECT_EQ(PlaceInside(stored, QRect(0, 0, 1366, 738)), QPoint(273, 87));
  // A second screen to the right of the first, with a panel at its top.
  EXPECT_EQ(PlaceInside(stored, QRect(1920, 30, 1280, 994)), QPoint(1920, 174));
  // Larger than the screen: the top-left corner stays reachable.
  EXPECT_EQ(PlaceInside(stored, QRect(0, 24, 800, 576)), QPoint(0, 24));
}

TEST(ErrorDisplay, AddsAFullStopOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(ErrorDisplayText("Error opening serial port"), "Error opening serial port.");
  EXPECT_EQ(ErrorDisplayText("'' is not a valid integer value"), "'' is not a valid integer value.");
  EXPECT_EQ(ErrorDisplayText("File handle is not a comm handle "), "File handle is not a comm handle ");
  EXPECT_EQ(ErrorDisplayText("Done."), "Done.");
  EXPECT_EQ(ErrorDisplayText("Stop!"), "Stop!");
  EXPECT_EQ(ErrorDisplayText("value 7"), "value 7.");
  EXPECT_EQ(ErrorDisplayText(""), "");
}

TEST(ErrorDisplay, AHandlerThatThrowsStopsAndItsMessageIsShown) {
  ui::MessageCatcher catcher;
  int reached = 0;
  RunHandler([&] {
    reached = 1;
    TextToIntOf("12x");
    reached = 2;
  });
  EXPECT_EQ(reached, 1);
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_EQ(catcher.Messages()[0].text, "'12x' is not a valid integer value.");
  EXPECT_EQ(catcher.Messages()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(catcher.Messages()[0].title, "RQ735");
}

// The message of the ERefused that sending raises, or "" when the frame went out.
std::string Refusal(FrameWriter &frame) {
  try {
    frame.WriteAsText();
  } catch (const ERefused &e) {
    return e.what();
  }
  return "";
}

TEST(FrameWriter, WritesWhatFitsAndRefusesTheRestWhereItWouldSend) {
  TForm1 form;
  const std::vector<FrameWriter::Field> profile = {{"Meter ID"},    {"Enabled"},         {"Device Mode"},
                                                   {"Meter Type"},  {"Preamble Length"}, FrameWriter::Number("Buffer Clear Time")};
  FrameWriter fits(form);
  fits.Text("<").Frame(MeterProfileFrame(0, 1, 0, 10, 5, 60), profile).Byte('>');
  EXPECT_EQ(Refusal(fits), "");
  EXPECT_EQ(ui::Text(&form, "Edit8"), "<QQS#HART0:1,0,10,9,060#>");

  // The first field that does not fit is the one named; nothing is shown.
  FrameWriter refused(form);
  refused.Frame(MeterProfileFrame(0, -1, -1, 0, 0, 1000), profile);
  EXPECT_EQ(Refusal(refused), "Enabled: no item is selected; nothing was sent");
  EXPECT_EQ(ui::Text(&form, "Edit8"), "");
  FrameWriter range(form);
  range.Frame(SlaveAddressFrame(1000), {FrameWriter::Number("MODBUS slave address")});
  EXPECT_EQ(Refusal(range), "MODBUS slave address: 1000 is outside 0 to 999; nothing was sent");

  // The transmit area holds 504 bytes: a longer frame is refused, and nothing is written past it
  // into the receive copy that follows.
  const uint8_t afterArea = form.Cycle().Reply().Data()[0];
  FrameWriter tooLong(form);
  tooLong.Text(std::string(TransmitView::kRoom, 'x')).Text("#");
  EXPECT_EQ(Refusal(tooLong), "The request would be 505 bytes long, more than the module takes; nothing was sent");
  EXPECT_EQ(form.Cycle().Reply().Data()[0], afterArea);
}

TEST(Timers, ReEnablingOrTheSameIntervalKeepsThePeriodButANewIntervalRestartsIt) {
  QObject owner;
  int fired = 0;
  QElapsedTimer t;
  qint64 firedAt = 0;
  TTimer timer(&owner, "TimerX", 400, [&] {
    ++fired;
    firedAt = t.elapsed();
  });
  EXPECT_EQ(timer.Raw()->objectName(), "TimerX");
  EXPECT_FALSE(timer.Enabled());

  t.start();
  timer.SetEnabled(true);
  ui::Pump(200);
  timer.SetEnabled(true);
  timer.SetInterval(400);
  ASSERT_TRUE(ui::WaitUntil([&] { return fired == 1; }, 1000));
  EXPECT_NEAR(firedAt, 400, 60);

  fired = 0;
  timer.SetEnabled(false);
  t.restart();
  timer.SetEnabled(true);
  ui::Pump(200);
  timer.SetInterval(500);
  ASSERT_TRUE(ui::WaitUntil([&] { return fired == 1; }, 1500));
  EXPECT_NEAR(firedAt, 700, 60);
  timer.SetEnabled(false);

  // Setting the interval of a stopped timer does not start it.
  timer.SetInterval(100);
  ui::Pump(200);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(fired, 1);
}

}  // namespace
