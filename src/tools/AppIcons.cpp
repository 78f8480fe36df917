// Writes the application icon into a hicolor theme folder: the SVG and a PNG
// per size, all drawn by TrayIcon so the launcher and the tray agree.
#include "app/tray/TrayIcon.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: vell_app_icons <hicolor folder>\n", stderr);
        return 2;
    }
    const QDir hicolor(QString::fromLocal8Bit(argv[1]));
    const QString name = QStringLiteral("org.brightfold.Vell");

    const QString scalable = hicolor.filePath(QStringLiteral("scalable/apps"));
    QFile svg(scalable + u'/' + name + QStringLiteral(".svg"));
    if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly) || svg.write(TrayIcon::appIconSvg()) < 0) {
        std::fprintf(stderr, "vell_app_icons: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = hicolor.filePath(QStringLiteral("%1x%1/apps").arg(side));
        const QString path = folder + u'/' + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !TrayIcon::appIcon(side).save(path, "PNG")) {
            std::fprintf(stderr, "vell_app_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
