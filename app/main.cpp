#include <QApplication>
#include <QIcon>

#include "app/main_window.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // The icon of the title bar and task list, and the menu entry a desktop matches the window to.
  QIcon icon(QStringLiteral(":/assets/icon-48.png"));
  icon.addFile(QStringLiteral(":/assets/icon-128.png"));
  QApplication::setWindowIcon(icon);
  QGuiApplication::setDesktopFileName(QStringLiteral("rq735"));
  TForm1 form;
  form.show();
  return app.exec();
}
