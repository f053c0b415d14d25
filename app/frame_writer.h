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

class QComboBox;
class TForm1;

class FrameWriter {
 public:
  explicit FrameWriter(TForm1 &form);

  FrameWriter &Text(std::string_view text);
  FrameWriter &Byte(uint8_t byte);
  FrameWriter &Bytes(const std::vector<uint8_t> &bytes);
  // The selected position of a list as one digit: '0' + position, or the digit of its item's text
  // for lists whose first item reads `firstDigit`.
  FrameWriter &IndexDigit(const QComboBox *list, const QString &field);
  FrameWriter &OffsetDigit(const QComboBox *list, char firstDigit, const QString &field);
  // The selected position of a list; without one the frame is refused (and 0 stands for it).
  int PositionOf(const QComboBox *list, const QString &field);
  // A number as two digits (0 to 99) or three (0 to 999).
  FrameWriter &TwoDigits(int32_t value, const QString &field);
  FrameWriter &ThreeDigits(int32_t value, const QString &field);

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
