// Saves a PNG of the X screen, or of one window given by its X id:
//   vell_screenshot OUT.png [WINDOW_ID]
// Prints the image's size; exits non-zero when nothing could be grabbed.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fputs("usage: vell_screenshot OUT.png [WINDOW_ID]\n", stderr);
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fputs("vell_screenshot: no screen\n", stderr);
        return 1;
    }
    bool ok = true;
    const WId window = arguments.size() > 2 ? WId(arguments[2].toULongLong(&ok, 0)) : 0;
    if (!ok) {
        std::fputs("vell_screenshot: the window id is not a number\n", stderr);
        return 2;
    }
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(arguments[1], "PNG")) {
        std::fputs("vell_screenshot: could not grab or save the screenshot\n", stderr);
        return 1;
    }
    std::printf("%dx%d\n", shot.width(), shot.height());
    return 0;
}
