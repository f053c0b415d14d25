#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <cmath>
#include <utility>
#include <vector>

#include "app/jpeg_image.h"
#include "app/main_window.h"
#include "ui_main_window.h"

namespace {

// One picture and the label that shows it. The decoded image is kept so that the pixmap can be
// made again for another device-pixel ratio without decoding the file again.
struct Picture {
  QLabel *label;
  QImage image;
};

// A pixmap that fills `logical` (the label's size in device-independent pixels) on a screen of
// ratio `dpr`. A picture with at least as many pixels as the screen needs is used as it is, marked
// with its own ratio so that it keeps its logical size (the logo is drawn at twice its label's
// size); a smaller one is scaled up smoothly once here rather than blockily at every paint.
QPixmap PixmapFor(const QImage &image, QSize logical, qreal dpr) {
  if (image.isNull() || logical.isEmpty()) return QPixmap::fromImage(image);
  const QSize needed(static_cast<int>(std::ceil(logical.width() * dpr)),
                     static_cast<int>(std::ceil(logical.height() * dpr)));
  if (image.width() >= needed.width() && image.height() >= needed.height()) {
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(qMax<qreal>(1.0, qreal(image.width()) / logical.width()));
    return pixmap;
  }
  QPixmap pixmap = QPixmap::fromImage(image.scaled(needed, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(dpr);
  return pixmap;
}

// Lives under the window; makes the pixmaps again when the window is shown on, or moved to, a
// screen of another device-pixel ratio.
class PictureScaler : public QObject {
 public:
  PictureScaler(QWidget *window, std::vector<Picture> pictures)
      : QObject(window), window_(window), pictures_(std::move(pictures)) {
    Apply();
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == window_) {
      switch (event->type()) {
        case QEvent::Show:
        case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        case QEvent::DevicePixelRatioChange:
#endif
          if (window_->devicePixelRatioF() != appliedRatio_) Apply();
          break;
        default:
          break;
      }
    }
    return false;
  }

 private:
  void Apply() {
    appliedRatio_ = window_->devicePixelRatioF();
    for (const Picture &p : pictures_)
      if (!p.image.isNull()) p.label->setPixmap(PixmapFor(p.image, p.label->size(), appliedRatio_));
  }

  QWidget *window_;
  std::vector<Picture> pictures_;
  qreal appliedRatio_ = 0;
};

}  // namespace

// The header logo and the two wiring diagrams; Image1 stretches the logo to its own size.
void TForm1::ShowPictures() {
  // The pictures are compiled into the static library; referencing the initializer keeps the
  // linker from dropping them.
  Q_INIT_RESOURCE(assets);
  const struct {
    QLabel *label;
    const char *path;
  } sources[] = {
      {ui()->Image1, ":/assets/logo.jpg"},
      {ui()->Image7, ":/assets/wiring_two_wire.jpg"},
      {ui()->Image2, ":/assets/wiring_four_wire.jpg"},
  };
  std::vector<Picture> pictures;
  for (const auto &s : sources) pictures.push_back({s.label, LoadJpegResource(QString::fromLatin1(s.path))});
  new PictureScaler(this, std::move(pictures));
}
