#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "Tarnwick/AppIcon.h"
#include "Tarnwick/Snapshot.h"

// Writes the application's icon into a hicolor theme folder, as desktops look it up for menus:
// tarnwick-render-icon FOLDER SIZE... writes FOLDER/<SIZE>x<SIZE>/apps/tarnwick.png for each size.
int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: tarnwick-render-icon FOLDER SIZE...\n", stderr);
        return 2;
    }
    // Drawing needs no screen; the build machine may have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long side = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || side < 8 || side > 1024) {
            std::fprintf(stderr, "tarnwick-render-icon: not a size from 8 to 1024: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(side);
        const QString file = dir + QStringLiteral("/tarnwick.png");
        QImage image = AppIcon::image(static_cast<int>(side), 1.0);
        // A theme's folder name is the icon's size in pixels, whatever ratio it was drawn at.
        image.setDevicePixelRatio(1.0);
        if (!QDir().mkpath(dir) || !Snapshot::write(image, file)) {
            std::fprintf(stderr, "tarnwick-render-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
