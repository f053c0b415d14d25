#include "app/conversions.h"

#include <QLocale>

#include "protocol/int_text.h"

int32_t TextToIntOf(const QString &text) { return TextToInt(text.toStdString()); }

std::string LocaleDecimalPoint() { return QLocale().decimalPoint().toStdString(); }

void Refusals::NoSelection(const QString &field) {
  Note(QStringLiteral("%1: no item is selected; nothing was sent").arg(field));
}

void Refusals::OutOfRange(const QString &field, int32_t value, int low, int high) {
  Note(QStringLiteral("%1: %2 is outside %3 to %4; nothing was sent").arg(field).arg(value).arg(low).arg(high));
}

void Refusals::TooLong(int length) {
  Note(QStringLiteral("The request would be %1 bytes long, more than the module takes; nothing was sent").arg(length));
}

void Refusals::RaiseIfAny() const {
  if (!first_.isEmpty()) throw ERefused(first_.toStdString());
}
