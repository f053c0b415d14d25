// The send sequence of every request built in CommBuffer: a FrameWriter starts the request
// (emptying "Send Buffer:" and "Receive Buffer:"), appends what the frame holds to the transmit
// area from its first byte on, and shows, writes and awaits it.
//
// What the frame cannot carry (no item picked, a number outside its field, a frame longer than
// the transmit area) is noted as it is met and refused (ERefused, the first note) only where the
// frame would be sent: everything the handler does before, conversions that stop it included,
// happens in its own order.
#pragma once

#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

#include "app/conversions.h"
#include "app/request_codes.h"
#include "protocol/module_frames.h"

class QComboBox;
class TForm1;

class FrameWriter {
 public:
  explicit FrameWriter(TForm1 &form);

  FrameWriter &Text(std::string_view text);
  FrameWriter &Byte(uint8_t byte);
  FrameWriter &Bytes(const std::vector<uint8_t> &bytes);

  // What a value of a module frame stands for: a list (no selection is refused as such) or a
  // number (refused with its range).
  struct Field {
    QString name;
    bool list = true;
  };
  static Field Number(const QString &name) { return {name, false}; }
  // A module frame, its fields named in the order of the builder's values.
  FrameWriter &Frame(const ModuleFrame &frame, const std::vector<Field> &fields);

  // The selected position of a list; without one the frame is refused (and 0 stands for it).
  int PositionOf(const QComboBox *list, const QString &field);

  const uint8_t *Data() const;
  int Length() const { return length_; }
  Refusals &Refused() { return refused_; }

  // Shows the frame in "Send Buffer:" as its text, or as hexadecimal pairs each followed by a
  // blank, and writes it; the caller sets the codes.
  void WriteAsText();
  void WriteAsHex();
  // The same, then the reply is awaited: the codes are set and the time-out armed at 3000 ms.
  void SendAsText(Pending::Code awaited, Timeout::Kind report);
  void SendAsHex(Pending::Code awaited, Timeout::Kind report);

 private:
  void Append(const uint8_t *bytes, size_t count);

  TForm1 &form_;
  int length_ = 0;  // what was appended, also past the area's end (then refused)
  Refusals refused_;
};
