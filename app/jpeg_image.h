// JPEG decoding for the window's pictures, done with libjpeg directly rather than through a Qt
// image plugin.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes a whole JPEG file held in memory into an RGB image. Data that is empty, truncated or not
// a JPEG gives a null image; decoding never aborts the program.
QImage DecodeJpeg(const QByteArray &data);

// Reads a JPEG file (usually a ":/assets/..." resource) and decodes it; a missing file gives a null
// image.
QImage LoadJpegResource(const QString &path);
