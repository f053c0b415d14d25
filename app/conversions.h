// Conversions every handler shares, and the refusal of values a request cannot carry.
#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>

// The shared text-to-integer conversion on a box's text (EConvertError on failure).
int32_t TextToIntOf(const QString &text);

// The decimal separator of the user's locale, as UTF-8 text.
std::string LocaleDecimalPoint();

// A value the request cannot carry: the handler stops and nothing is sent.
class ERefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Refusals are noted while a handler builds its request and raised (ERefused, with the first
// note) only where the request would be sent.
class Refusals {
 public:
  void Note(const QString &message) {
    if (first_.isEmpty()) first_ = message;
  }
  // The refusal texts, each said in one place.
  void NoSelection(const QString &field);
  void OutOfRange(const QString &field, int32_t value, int low, int high);
  void TooLong(int length);  // a request longer than the transmit area
  void RaiseIfAny() const;

 private:
  QString first_;
};
