#include "app/form_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QLocale>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>
#include <cstring>

#include "protocol/config_frame.h"
#include "protocol/int_text.h"
#include "serial/open_failure.h"
#include "serial/tcomm.h"

namespace {
const QString kTitle = QStringLiteral("RQ735");
}

int ItemIndex(const QComboBox *combo) {
  int index = combo->currentIndex();
  if (index < 0) return -1;
  if (combo->isEditable() && combo->currentText() != combo->itemText(index)) return -1;
  return index;
}

void SetItemIndex(QComboBox *combo, int index) {
  if (index < 0 || index >= combo->count()) {
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) combo->setEditText(QString());
    return;
  }
  combo->setCurrentIndex(index);
  if (combo->isEditable()) combo->setEditText(combo->itemText(index));
}

void ShowMessage(const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

QString ErrorDisplayText(const QString &message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void ShowErrorBox(const QString &message, const QString &informative) {
  QMessageBox box(QMessageBox::Critical, kTitle, ErrorDisplayText(message), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setInformativeText(informative);
  box.exec();
}

void RunHandler(const std::function<void()> &handler) {
  try {
    handler();
  } catch (const ECommsError &e) {
    ShowErrorBox(QString::fromUtf8(e.what()), QString::fromStdString(OpenFailureAdvice(e.Error(), e.Device())));
  } catch (const std::exception &e) {
    ShowErrorBox(QString::fromUtf8(e.what()));
  }
}

void Refusals::NoSelection(const QString &field) {
  Note(QStringLiteral("%1: no item is selected; nothing was sent").arg(field));
}

void Refusals::OutOfRange(const QString &field, int32_t value, int low, int high) {
  Note(QStringLiteral("%1: %2 is outside %3 to %4; nothing was sent").arg(field).arg(value).arg(low).arg(high));
}

void Refusals::RaiseIfAny() const {
  if (!first_.isEmpty()) throw ERefused(first_.toStdString());
}

uint8_t IndexDigitOf(const QComboBox *combo, const QString &field, Refusals &refused) {
  const int index = ItemIndex(combo);
  const auto digit = IndexDigit(index);
  if (digit && index < combo->count()) return *digit;
  refused.NoSelection(field);
  return '0';
}

uint8_t OffsetDigitOf(const QComboBox *combo, char firstDigit, const QString &field, Refusals &refused) {
  const int index = ItemIndex(combo);
  const auto digit = OffsetDigit(index, firstDigit);
  if (digit && index < combo->count()) return *digit;
  refused.NoSelection(field);
  return '0';
}

void WriteTwoDigits(uint8_t *dest, int32_t value, const QString &field, Refusals &refused) {
  const auto digits = TwoDigitDecimal(value);
  if (!digits) refused.OutOfRange(field, value, 0, 99);
  const std::array<uint8_t, 2> out = digits.value_or(std::array<uint8_t, 2>{'0', '0'});
  std::copy(out.begin(), out.end(), dest);
}

void WriteThreeDigits(uint8_t *dest, int32_t value, const QString &field, Refusals &refused) {
  const auto digits = ThreeDigitDecimal(value);
  if (!digits) refused.OutOfRange(field, value, 0, 999);
  const std::array<uint8_t, 3> out = digits.value_or(std::array<uint8_t, 3>{'0', '0', '0'});
  std::copy(out.begin(), out.end(), dest);
}

int32_t TextToIntOf(const QString &text) { return TextToInt(text.toStdString()); }

int Put(uint8_t *buffer, int at, const char *text) {
  const size_t n = std::strlen(text);
  std::memcpy(buffer + at, text, n);
  return at + static_cast<int>(n);
}

int Put(uint8_t *buffer, int at, uint8_t byte) {
  buffer[at] = byte;
  return at + 1;
}

std::string LocaleDecimalPoint() { return QLocale().decimalPoint().toStdString(); }

QPoint PlaceInside(const QRect &window, const QRect &area) {
  auto along = [](int at, int size, int from, int length) {
    return std::max(from, std::min(at, from + length - size));
  };
  return {along(window.x(), window.width(), area.x(), area.width()),
          along(window.y(), window.height(), area.y(), area.height())};
}
