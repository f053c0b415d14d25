// The window's pictures decoded by libjpeg: the shipped assets decode whole, anything damaged
// gives a null image instead of a crash or a partly grey picture.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPoint>

#include <cstdlib>

#include <gtest/gtest.h>

#include "app/jpeg_image.h"

// Outside any namespace: Q_INIT_RESOURCE declares the initializer where it is used.
static QByteArray Resource(const char *path) {
  Q_INIT_RESOURCE(assets);
  QFile file(QString::fromLatin1(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

namespace {

bool Near(QRgb a, QRgb b, int tolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

}  // namespace

TEST(JpegImage, AssetsDecodeWhole) {
  Q_INIT_RESOURCE(assets);
  const struct {
    const char *path;
    int width, height;
    QPoint probe;  // a pixel inside a plain area of known colour
    QRgb colour;
  } assets[] = {
      {":/assets/logo.jpg", 210, 82, QPoint(28, 20), qRgb(0x1D, 0x3F, 0x72)},
      {":/assets/wiring_two_wire.jpg", 1040, 390, QPoint(2, 2), qRgb(0xFF, 0xFF, 0xFF)},
      {":/assets/wiring_four_wire.jpg", 1040, 390, QPoint(2, 2), qRgb(0xFF, 0xFF, 0xFF)},
  };
  for (const auto &a : assets) {
    SCOPED_TRACE(a.path);
    const QImage image = LoadJpegResource(QString::fromLatin1(a.path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(a.width, a.height));
    EXPECT_TRUE(Near(image.pixel(a.probe), a.colour, 8)) << std::hex << image.pixel(a.probe);
    // Drawn content, not a blank or grey fill: some pixel in the middle row is dark.
    bool dark = false;
    for (int x = 0; x < image.width() && !dark; ++x) dark = qGray(image.pixel(x, image.height() / 2)) < 80;
    EXPECT_TRUE(dark);
  }
  EXPECT_TRUE(LoadJpegResource(QStringLiteral(":/assets/no_such_picture.jpg")).isNull());
}

TEST(JpegImage, DamagedDataGivesNullImage) {
  const QByteArray whole = Resource(":/assets/wiring_two_wire.jpg");
  ASSERT_GT(whole.size(), 1000);

  EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
  EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture at all")).isNull());
  EXPECT_TRUE(DecodeJpeg(QByteArray("\xFF\xD8", 2)).isNull());            // start marker only
  EXPECT_TRUE(DecodeJpeg(QByteArray("\xFF\xD8\xFF\xD9", 4)).isNull());    // start and end, nothing between
  EXPECT_TRUE(DecodeJpeg(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\0", 12)).isNull());
  EXPECT_TRUE(DecodeJpeg(whole.left(300)).isNull());                      // headers, no picture data
  EXPECT_TRUE(DecodeJpeg(whole.left(whole.size() / 2)).isNull());         // cut in the middle
  EXPECT_TRUE(DecodeJpeg(whole.left(whole.size() - 2)).isNull());         // end marker missing

  QByteArray noise(4096, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + 7) % 251);
  EXPECT_TRUE(DecodeJpeg(QByteArray("\xFF\xD8", 2) + noise).isNull());

  // Scrambled picture data after intact headers: no crash; whatever comes back is either a whole
  // picture of the right size or nothing.
  QByteArray scrambled = whole;
  for (int i = scrambled.size() / 3; i < scrambled.size() / 3 + 64; ++i) scrambled[i] = static_cast<char>(0xA5);
  const QImage image = DecodeJpeg(scrambled);
  EXPECT_TRUE(image.isNull() || image.size() == QSize(1040, 390));
}

TEST(JpegImage, RefusesAbsurdDimensionsWithoutAllocating) {
  QByteArray data = Resource(":/assets/logo.jpg");
  // Patch the frame header (SOF0..SOF2) to claim 65535 x 65535 pixels.
  int sof = -1;
  for (int i = 2; i + 9 < data.size(); ++i) {
    const auto m = static_cast<unsigned char>(data[i + 1]);
    if (static_cast<unsigned char>(data[i]) == 0xFF && m >= 0xC0 && m <= 0xC2) {
      sof = i;
      break;
    }
  }
  ASSERT_GE(sof, 0);
  for (int k = 5; k <= 8; ++k) data[sof + k] = static_cast<char>(0xFF);
  EXPECT_TRUE(DecodeJpeg(data).isNull());
}
