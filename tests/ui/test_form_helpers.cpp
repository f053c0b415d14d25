// The window's shared pieces: list selections, the error display text, refusals, timers.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>

#include "app/form_helpers.h"
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
  // Text typed over the selected item counts as no selection.
  SetItemIndex(&combo, 0);
  ui::TypeInto(&combo, "Nonsense");
  EXPECT_EQ(ItemIndex(&combo), -1);

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

// The message an ERefused raised by RaiseIfAny carries, or "" when nothing was noted.
std::string Raised(const Refusals &refused) {
  try {
    refused.RaiseIfAny();
  } catch (const ERefused &e) {
    return e.what();
  }
  return "";
}

TEST(Refusals, ValuesThatDoNotFitAreNotedAndTheFirstIsRaisedAtTheSend) {
  QComboBox combo;
  combo.setEditable(true);
  combo.addItems({"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"});
  Refusals fits;
  SetItemIndex(&combo, 9);
  EXPECT_EQ(IndexDigitOf(&combo, "Mode", fits), '9');
  SetItemIndex(&combo, 5);
  EXPECT_EQ(OffsetDigitOf(&combo, '4', "Preamble", fits), '9');
  uint8_t out[3] = {'x', 'x', 'x'};
  WriteThreeDigits(out, 247, "Address", fits);
  EXPECT_EQ(std::string(out, out + 3), "247");
  WriteTwoDigits(out, 5, "Start", fits);
  EXPECT_EQ(std::string(out, out + 2), "05");
  EXPECT_EQ(Raised(fits), "");

  Refusals refused;
  SetItemIndex(&combo, -1);
  EXPECT_EQ(IndexDigitOf(&combo, "Module working mode", refused), '0');
  SetItemIndex(&combo, 10);
  IndexDigitOf(&combo, "Mode", refused);
  EXPECT_EQ(Raised(refused), "Module working mode: no item is selected; nothing was sent") << "the first note";

  Refusals range;
  SetItemIndex(&combo, 6);
  OffsetDigitOf(&combo, '4', "Preamble", range);
  EXPECT_EQ(Raised(range), "Preamble: no item is selected; nothing was sent");
  Refusals wide;
  WriteThreeDigits(out, 1000, "MODBUS slave address", wide);
  EXPECT_EQ(std::string(out, out + 3), "000") << "zeros stand in the frame that is not sent";
  WriteTwoDigits(out, -1, "Start", wide);
  EXPECT_EQ(Raised(wide), "MODBUS slave address: 1000 is outside 0 to 999; nothing was sent");
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
