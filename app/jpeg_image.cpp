#include "app/jpeg_image.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace {

// Pictures larger than this are refused rather than allocated.
constexpr unsigned long kMaxPixels = 64UL * 1024 * 1024;

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the
// decoder, which then gives up on the picture.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Silences libjpeg's messages on stderr; warnings are still counted in num_warnings.
void OnMessage(j_common_ptr) {}

// The libjpeg part of the decoding. Nothing in this frame has a destructor, so leaving it by
// longjmp skips no clean-up; the image lives in the caller.
bool Decode(const unsigned char *data, unsigned long size, QImage *image) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.output_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);

  const JDIMENSION width = cinfo.output_width;
  const JDIMENSION height = cinfo.output_height;
  if (cinfo.output_components != 3 || width == 0 || height == 0 ||
      static_cast<unsigned long>(width) * height > kMaxPixels) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  *image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
  if (image->isNull()) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < height) {
    JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
  }
  jpeg_finish_decompress(&cinfo);
  // A file that ends early or holds damaged entropy data is only warned about by libjpeg, which
  // then fills the rest of the picture with grey: treat it as unreadable.
  const bool damaged = err.pub.num_warnings > 0;
  jpeg_destroy_decompress(&cinfo);
  return !damaged;
}

}  // namespace

QImage DecodeJpeg(const QByteArray &data) {
  if (data.isEmpty()) return QImage();
  QImage image;
  if (!Decode(reinterpret_cast<const unsigned char *>(data.constData()),
              static_cast<unsigned long>(data.size()), &image))
    return QImage();
  return image;
}

QImage LoadJpegResource(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QImage();
  return DecodeJpeg(file.readAll());
}
