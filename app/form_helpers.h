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

// Encodings of a control's value, refusing (ERefused, naming `field`) what does not fit.
uint8_t IndexDigitOf(const QComboBox *combo, const QString &field);
uint8_t OffsetDigitOf(const QComboBox *combo, char firstDigit, const QString &field);
// Converts the text with the shared conversion (EConvertError on failure) and refuses a value
// outside 0..99 / 0..999.
void WriteTwoDigits(uint8_t *dest, int32_t value, const QString &field);
void WriteThreeDigits(uint8_t *dest, int32_t value, const QString &field);

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
