#include "app/error_display.h"

#include <QApplication>
#include <QMessageBox>

#include "serial/tcomm.h"

namespace {
const QString kTitle = QStringLiteral("RQ735");
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
    ShowErrorBox(QString::fromUtf8(e.what()), QString::fromStdString(e.Advice()));
  } catch (const std::exception &e) {
    ShowErrorBox(QString::fromUtf8(e.what()));
  }
}
