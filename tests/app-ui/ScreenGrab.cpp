// Saves a picture of the whole X screen (the display in $DISPLAY) to the PNG file named by its one
// argument, for the screenshots in docs/; exits 1 when it cannot. Not a test.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: screen-grab FILE.png\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The picture is the screen's pixels, whatever scale the grabbed application runs at.
    qunsetenv("QT_SCALE_FACTOR");
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fputs("screen-grab: cannot grab the screen\n", stderr);
        return 1;
    }
    return 0;
}
