// Draws the program's picture (a folder whose contents arc over onto a drive)
// and writes it as a JPEG. The committed QV_Backup.jpg is its output:
//     cmake --build build/test --target qvb_make_picture
//     build/test/src/ui/qvb_make_picture assets/picture/QV_Backup.jpg

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

constexpr int kSize = 160;
constexpr int kSamples = 4;  // per axis, for smooth edges
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb hex(unsigned v) {
    return {double((v >> 16) & 255), double((v >> 8) & 255), double(v & 255)};
}

bool inRoundRect(double x, double y, double x0, double y0, double x1, double y1, double r) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    const double cx = std::fmin(std::fmax(x, x0 + r), x1 - r);
    const double cy = std::fmin(std::fmax(y, y0 + r), y1 - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

bool inCircle(double x, double y, double cx, double cy, double r) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// The arrow's arc: a ring around (88, 96) from -110 to -5 degrees.
constexpr double kArcX = 88, kArcY = 96, kArcR = 46, kArcWidth = 10;
constexpr double kArcFrom = -110 * kPi / 180, kArcTo = -5 * kPi / 180;

bool inArc(double x, double y) {
    const double d = std::hypot(x - kArcX, y - kArcY);
    const double a = std::atan2(y - kArcY, x - kArcX);
    return std::fabs(d - kArcR) <= kArcWidth / 2 && a >= kArcFrom && a <= kArcTo;
}

double cross(double ax, double ay, double bx, double by, double px, double py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

bool inArrowHead(double x, double y) {
    const double px = kArcX + kArcR * std::cos(kArcTo), py = kArcY + kArcR * std::sin(kArcTo);
    const double nx = std::cos(kArcTo), ny = std::sin(kArcTo);  // outwards
    const double tx = -ny, ty = nx;                             // along the arc
    const double ax = px - 12 * nx, ay = py - 12 * ny;
    const double bx = px + 12 * nx, by = py + 12 * ny;
    const double cx = px + 16 * tx, cy = py + 16 * ty;
    const double c1 = cross(ax, ay, bx, by, x, y), c2 = cross(bx, by, cx, cy, x, y),
                 c3 = cross(cx, cy, ax, ay, x, y);
    return (c1 >= 0 && c2 >= 0 && c3 >= 0) || (c1 <= 0 && c2 <= 0 && c3 <= 0);
}

// The colour of one sample point; later shapes lie on top of earlier ones.
Rgb colourAt(double x, double y) {
    const Rgb top = hex(0x1d3b6e), bottom = hex(0x2a8c9c);
    const double t = y / kSize;
    Rgb c{top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
          top.b + (bottom.b - top.b) * t};
    if (inRoundRect(x, y, 14, 24, 46, 38, 4)) c = hex(0xd99a1e);     // folder tab
    if (inRoundRect(x, y, 14, 30, 84, 82, 5)) c = hex(0xd99a1e);     // folder back
    if (inRoundRect(x, y, 14, 40, 84, 82, 5)) c = hex(0xf2b632);     // folder front
    if (inRoundRect(x, y, 68, 110, 148, 148, 7)) c = hex(0xc9ced6);  // drive
    if (inRoundRect(x, y, 68, 132, 148, 148, 7) && y > 134) c = hex(0x8d949e);
    if (inRoundRect(x, y, 78, 118, 126, 122, 2)) c = hex(0x8d949e);  // drive slot
    if (inCircle(x, y, 137, 120, 4)) c = hex(0x3ddc5a);              // drive light
    if (inArc(x, y) || inArrowHead(x, y)) c = hex(0xffffff);
    return c;
}

std::vector<unsigned char> drawPicture() {
    std::vector<unsigned char> rgb(kSize * kSize * 3);
    for (int py = 0; py < kSize; ++py) {
        for (int px = 0; px < kSize; ++px) {
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Rgb c = colourAt(px + (sx + 0.5) / kSamples, py + (sy + 0.5) / kSamples);
                    sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                }
            }
            const double n = kSamples * kSamples;
            unsigned char* out = &rgb[(py * kSize + px) * 3];
            out[0] = static_cast<unsigned char>(std::lround(sum.r / n));
            out[1] = static_cast<unsigned char>(std::lround(sum.g / n));
            out[2] = static_cast<unsigned char>(std::lround(sum.b / n));
        }
    }
    return rgb;
}

bool writeJpeg(const char* path, std::vector<unsigned char>& rgb) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = kSize;
    info.image_height = kSize;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 92, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[info.next_scanline * kSize * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: qvb_make_picture AUSGABE.jpg\n");
        return 2;
    }
    std::vector<unsigned char> rgb = drawPicture();
    if (!writeJpeg(argv[1], rgb)) {
        std::fprintf(stderr, "\"%s\" konnte nicht geschrieben werden.\n", argv[1]);
        return 1;
    }
    return 0;
}
