#include "Screenshots.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSet>

#include <cstdio>
#include <cstdlib>

QImage Screenshots::grab(const QRect& area)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

QString Screenshots::save(const QImage& image, const QString& name)
{
    const QString folder = QStringLiteral(VELL_ARTIFACTS);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name;
    image.save(path, "PNG");
    std::printf("screenshot: %s\n", qPrintable(path));
    return path;
}

int Screenshots::colourCount(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

namespace {

int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

template <typename Predicate> double share(const QImage& image, Predicate counts)
{
    if (image.isNull())
        return 0;
    qint64 counted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            counted += counts(image.pixel(x, y)) ? 1 : 0;
    return double(counted) / (double(image.width()) * image.height());
}

} // namespace

double Screenshots::shareLike(const QImage& image, QRgb colour)
{
    return share(image, [colour](QRgb p) { return distance(p, colour) <= 12; });
}

double Screenshots::shareLight(const QImage& image)
{
    return share(image, [](QRgb p) { return qGray(p) > 150; });
}

double Screenshots::shareUnlike(const QImage& image, QRgb background)
{
    if (image.isNull())
        return 0;
    qint64 unlike = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
                    std::abs(qBlue(p) - qBlue(background)) >
                60)
                ++unlike;
        }
    return double(unlike) / (double(image.width()) * image.height());
}

int Screenshots::tallestLightRun(const QImage& image)
{
    int tallest = 0;
    for (int x = 0; x < image.width(); ++x) {
        int run = 0;
        for (int y = 0; y < image.height(); ++y) {
            run = qGray(image.pixel(x, y)) > 150 ? run + 1 : 0;
            tallest = qMax(tallest, run);
        }
    }
    return tallest;
}
