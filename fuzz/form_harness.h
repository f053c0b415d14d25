// One offscreen TForm1 shared by every input of a fuzz target that drives the window's handlers.
#pragma once

#include <functional>

#include "fuzz/fuzz_util.h"

class QWidget;
class TForm1;

namespace fuzz {

// Built on first use, with QApplication on the offscreen platform.
TForm1 &Form();

// Runs a request handler. It may stop with the conversion error (whose message names the text) or
// a refusal, and may show message boxes, which are closed from their own event loop at once;
// anything else is a finding and aborts.
void Run(const std::function<void()> &step);

// The control with this object name; a missing one is a finding.
QWidget *Control(const char *name);

}  // namespace fuzz
