// Small pieces every handler shares: list selections with the window's semantics, the message
// boxes, the general error display, and the refusal of values that do not fit their encoding.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class QComboBox;
class QLineEdit;

// A value the request cannot carry (no item picked, a number outside its field): the handler stops
// and nothing is sent.
class ERefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The selected position of a list; -1 when nothing is selected or the text was edited away from
// the selected item.
int ItemIndex(const QComboBox *combo);
// Selects position `index`; an index outside the list leaves no selection and an empty text.
void SetItemIndex(QComboBox *combo, int index);

// A modal message box with the exact text, titled "RQ735".
void ShowMessage(const QString &text);

// The general error display: a critical box titled "RQ735" with the message, a full stop added when
// its last character sorts after ".", and under it the `informative` text when there is one.
void ShowErrorBox(const QString &message, const QString &informative = {});
QString ErrorDisplayText(const QString &message);

// Runs a handler; an exception it raises stops it and is shown by the general error display. A port
// that would not open is shown with the system's reason in words a field engineer can act on.
void RunHandler(const std::function<void()> &handler);

// What a request cannot carry is noted while its handler builds it, and refused (ERefused, with the
// first note) only where the request would be sent. Everything the handler does before that point
// happens as for a request that goes out, so a conversion error met later in the building is the
// one shown, since it stops the handler there.
class Refusals {
 public:
  void Note(const QString &message) {
    if (first_.isEmpty()) first_ = message;
  }
  void NoSelection(const QString &field);
  void OutOfRange(const QString &field, int32_t value, int low, int high);
  void RaiseIfAny() const;

 private:
  QString first_;
};

// Encodings of a control's value. What does not fit is noted in `refused`, naming `field`, and
// stands as zeros in the frame, which is then never sent.
uint8_t IndexDigitOf(const QComboBox *combo, const QString &field, Refusals &refused);
uint8_t OffsetDigitOf(const QComboBox *combo, char firstDigit, const QString &field, Refusals &refused);
// A value outside 0..99 / 0..999 is refused.
void WriteTwoDigits(uint8_t *dest, int32_t value, const QString &field, Refusals &refused);
void WriteThreeDigits(uint8_t *dest, int32_t value, const QString &field, Refusals &refused);

// The shared text-to-integer conversion on a box's text.
int32_t TextToIntOf(const QString &text);

// Writes literal bytes into a frame buffer from `at` and returns the position after them.
int Put(uint8_t *buffer, int at, const char *text);
int Put(uint8_t *buffer, int at, uint8_t byte);

// The decimal separator of the user's locale, as UTF-8 text.
std::string LocaleDecimalPoint();

// Where a window of `window`'s size and place shows whole inside `area`: its own place when it fits,
// otherwise moved in just far enough, and to the area's top-left corner when it is larger.
QPoint PlaceInside(const QRect &window, const QRect &area);
