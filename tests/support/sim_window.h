// A window talking to a running rq735-sim, for end-to-end tests.
#pragma once

#include <QStringList>

#include "app/main_window.h"
#include "tests/support/sim_process.h"
#include "tests/support/ui_driver.h"

struct SimWindow {
  explicit SimWindow(const QStringList &simArguments = {});
  // Types the simulator's port into "Serial Port:" and presses "Open".
  void Open();
  // Presses a button, waits for the module's answer and its parse, and returns "Receive Buffer:".
  QString Exchange(const char *button);

  SimProcess sim;
  TForm1 form;
  ui::MessageCatcher catcher;  // closes any message box at once
};
