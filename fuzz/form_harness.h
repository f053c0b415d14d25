// One offscreen TForm1 shared by every input of a fuzz target, and a delivery of arbitrary bytes
// copied into it the way the receive handler copies a delivery from the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class TForm1;

namespace fuzz {

// Built on first use, with QApplication on the offscreen platform.
TForm1 &Form();

// ReplyText gets the first 255 bytes, the receive area of CommBuffer the first 404; the rest of
// the receive area is filled with `stale` (what earlier deliveries left there).
void Deliver(const uint8_t *data, size_t size, uint8_t stale);

// What a step may do besides succeed.
enum class Expect {
  // A reply parser: EConvertError with the conversion message naming the text, and nothing else;
  // no message box.
  Parser,
  // A request handler: that, or ERefused; message boxes (closed at once) are its way to refuse too.
  Handler,
};

// Runs `step`; anything it may not do is a finding and aborts. A modal message box opened meanwhile
// is closed from its own event loop.
void Run(const std::function<void()> &step, Expect expect);

// The control with this object name; a missing one is a finding.
QWidget *Control(const char *name);

// The texts (and, for lists, selected positions) of the named controls, for comparing outcomes.
std::string Snapshot(const std::vector<const char *> &names);
// Sets the named line edits to "old" and the named lists to their first item.
void Reset(const std::vector<const char *> &names);

// Delivers the bytes and runs the parser once for each of several stale fills of the receive area,
// starting each time from the same state (`prepare` after Reset of `outputs`). The outcome, the
// outputs' texts and `extra`, must not depend on the fill: a parser may only use bytes of the delivery.
void ParseIgnoringStaleBytes(const uint8_t *data, size_t size, const std::vector<const char *> &outputs,
                             const std::function<void()> &prepare, const std::function<void()> &parse,
                             const std::function<std::string()> &extra);

// Number of message boxes closed by Run since the start.
int BoxesClosed();

[[noreturn]] void Fail(const std::string &what);

}  // namespace fuzz
