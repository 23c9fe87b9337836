#pragma once

// Pictures are decoded with libjpeg, so the program does not depend on Qt's
// image plugins being installed.

#include <QByteArray>
#include <QImage>

namespace qvb {

// The decoded picture, or a null image when `data` is no JPEG this program can
// show (damaged, CMYK, absurdly large).
QImage decodeJpeg(const QByteArray& data);

// The program's own picture from the compiled-in resource.
QImage programPicture();

}  // namespace qvb
