#include "ui/JpegPicture.h"

#include <QFile>
#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace qvb {

namespace {

// Far above any picture of this program; a damaged header must not make it
// allocate gigabytes.
constexpr JDIMENSION kMaxSide = 4096;

// libjpeg's own error handler ends the process; this one jumps back instead.
struct TJpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->jump, 1);
}

void ignoreWarning(j_common_ptr) {}

// Between setjmp and a possible longjmp only `image` (the caller's) and plain C
// data change, so the jump skips no destructor.
bool decodeInto(jpeg_decompress_struct& info, const QByteArray& data, QImage& image) {
    if (setjmp(reinterpret_cast<TJpegErrors*>(info.err)->jump)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
    if (info.image_width > kMaxSide || info.image_height > kMaxSide) return false;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3) return false;
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    if (image.isNull()) return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

QImage decodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    jpeg_decompress_struct info{};
    TJpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpBack;
    errors.manager.output_message = ignoreWarning;
    QImage image;
    const bool decoded = decodeInto(info, data, image);
    // Safe on a half-created decompressor too: it frees what was allocated.
    jpeg_destroy_decompress(&info);
    return decoded ? image : QImage();
}

QImage programPicture() {
    QFile file(QStringLiteral(":/pictures/QV_Backup.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return decodeJpeg(file.readAll());
}

}  // namespace qvb
