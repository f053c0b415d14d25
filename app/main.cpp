#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

#include "app/main_window.h"
#include "rq735_version.h"

int main(int argc, char **argv) {
  // Answered before QApplication, which would first need a display.
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("rq735 %s\n", RQ735_VERSION);
      return 0;
    }
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::printf(
          "usage: rq735 [Qt options]\n"
          "Configures the RQ735 HART to MODBUS RTU converter module over a serial line.\n"
          "  --version  print the version and stop\n"
          "Qt's own options (-platform, -style, -display, ...) are passed on to Qt.\n");
      return 0;
    }
  }
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
