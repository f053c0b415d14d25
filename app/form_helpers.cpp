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

namespace {

[[noreturn]] void RefuseSelection(const QString &field) {
  throw ERefused(QStringLiteral("%1: no item is selected; nothing was sent").arg(field).toStdString());
}

[[noreturn]] void RefuseRange(const QString &field, int32_t value, int low, int high) {
  throw ERefused(QStringLiteral("%1: %2 is outside %3 to %4; nothing was sent")
                     .arg(field)
                     .arg(value)
                     .arg(low)
                     .arg(high)
                     .toStdString());
}

}  // namespace

uint8_t IndexDigitOf(const QComboBox *combo, const QString &field) {
  int index = ItemIndex(combo);
  auto digit = IndexDigit(index);
  if (!digit || index >= combo->count()) RefuseSelection(field);
  return *digit;
}

uint8_t OffsetDigitOf(const QComboBox *combo, char firstDigit, const QString &field) {
  int index = ItemIndex(combo);
  auto digit = OffsetDigit(index, firstDigit);
  if (!digit || index >= combo->count()) RefuseSelection(field);
  return *digit;
}

void WriteTwoDigits(uint8_t *dest, int32_t value, const QString &field) {
  auto digits = TwoDigitDecimal(value);
  if (!digits) RefuseRange(field, value, 0, 99);
  dest[0] = (*digits)[0];
  dest[1] = (*digits)[1];
}

void WriteThreeDigits(uint8_t *dest, int32_t value, const QString &field) {
  auto digits = ThreeDigitDecimal(value);
  if (!digits) RefuseRange(field, value, 0, 999);
  for (int i = 0; i < 3; ++i) dest[i] = (*digits)[static_cast<size_t>(i)];
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
