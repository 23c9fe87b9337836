// Renders the program's SVG icon as square PNG files, one per size, into the
// hicolor layout: OUT/SIZExSIZE/apps/NAME.png. Run by the build.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "Aufruf: qvb_render_icon SVG AUSGABE NAME GRÖSSE...\n");
        return 2;
    }
    // Fonts and screens are not needed; the offscreen platform avoids a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "\"%s\" ist kein lesbares SVG.\n", argv[1]);
        return 1;
    }
    for (int i = 4; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QString file = folder + QLatin1Char('/') + QString::fromLocal8Bit(argv[3]) + ".png";
        if (size <= 0 || !QDir().mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "\"%s\" konnte nicht geschrieben werden.\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
