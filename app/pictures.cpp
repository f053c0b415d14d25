#include <QLabel>
#include <QPixmap>

#include "app/jpeg_image.h"
#include "app/main_window.h"
#include "ui_main_window.h"

// The header logo and the two wiring diagrams; Image1 stretches the logo to its own size.
void TForm1::ShowPictures() {
  // The pictures are compiled into the static library; referencing the initializer keeps the
  // linker from dropping them.
  Q_INIT_RESOURCE(assets);
  const struct {
    QLabel *label;
    const char *path;
  } pictures[] = {
      {ui()->Image1, ":/assets/logo.jpg"},
      {ui()->Image7, ":/assets/wiring_two_wire.jpg"},
      {ui()->Image2, ":/assets/wiring_four_wire.jpg"},
  };
  for (const auto &p : pictures) {
    const QImage image = LoadJpegResource(QString::fromLatin1(p.path));
    if (!image.isNull()) p.label->setPixmap(QPixmap::fromImage(image));
  }
}
