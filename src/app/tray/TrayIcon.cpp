#include "app/tray/TrayIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>

namespace {

constexpr std::array<qreal, 5> kLeftEdges{1.3, 5.1, 8.9, 12.7, 16.5};
constexpr std::array<qreal, 5> kLevelWeights{0.4, 0.7, 1.0, 0.7, 0.4};
constexpr std::array<qreal, 5> kRestingProportions{0.9, 1.0, 0.75, 0.95, 0.8};
constexpr qreal kRestingHeight = 13;

// Where the 20 × 18 drawing sits on the application icon's tile: centred.
constexpr QPointF kAppIconOffset{(TrayIcon::kAppIconSide - TrayIcon::kSize.width()) / 2,
                                 (TrayIcon::kAppIconSide - TrayIcon::kSize.height()) / 2};

QString svgNumber(qreal value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

QList<QRectF> TrayIcon::bars(DictationState state, int levelStep)
{
    QList<QRectF> result;
    for (size_t i = 0; i < kLeftEdges.size(); ++i) {
        const qreal height = state == DictationState::listening
                                 ? 4 + (10.0 / 3.0) * qBound(0, levelStep, 3) * kLevelWeights[i]
                                 : kRestingHeight * kRestingProportions[i];
        result << QRectF(kLeftEdges[i], kCentreY - height / 2, kBarWidth, height);
    }
    return result;
}

QString TrayIcon::accessibleLabel(bool needsAttention)
{
    return needsAttention ? QStringLiteral("Vell, needs attention") : QStringLiteral("Vell");
}

QImage TrayIcon::render(const Look& look, int side, qreal devicePixelRatio, const QColor& colour)
{
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal scale = side / kSize.width();
    painter.translate(0, (side - kSize.height() * scale) / 2);
    painter.scale(scale, scale);

    QPainterPath shape;
    for (const QRectF& bar : bars(look.state, look.levelStep))
        shape.addRoundedRect(bar, kBarWidth / 2, kBarWidth / 2);
    const QColor outline(0, 0, 0, 90);
    painter.setPen(QPen(outline, 0.5 / scale * 2 / devicePixelRatio));
    painter.setBrush(colour);
    painter.drawPath(shape);

    if (look.needsAttention) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(badgeClearing());
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(outline, 0.5 / scale * 2 / devicePixelRatio));
        painter.setBrush(colour);
        painter.drawEllipse(badge());
    }
    return image;
}

QIcon TrayIcon::icon(const Look& look, int extraSide, const QColor& colour)
{
    QList<int> sides{16, 22, 24, 32, 48};
    if (extraSide > 0 && !sides.contains(extraSide))
        sides << extraSide;
    QIcon result;
    for (int side : std::as_const(sides)) {
        result.addPixmap(QPixmap::fromImage(render(look, side, 1, colour)));
        result.addPixmap(QPixmap::fromImage(render(look, side, 2, colour)));
    }
    return result;
}

QImage TrayIcon::appIcon(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / kAppIconSide, side / kAppIconSide);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kAppIconTile);
    painter.drawRoundedRect(QRectF(0, 0, kAppIconSide, kAppIconSide), kAppIconCornerRadius, kAppIconCornerRadius);
    painter.translate(kAppIconOffset);
    painter.setBrush(kColour);
    for (const QRectF& bar : bars(DictationState::idle, 0))
        painter.drawRoundedRect(bar, kBarWidth / 2, kBarWidth / 2);
    return image;
}

QByteArray TrayIcon::appIconSvg()
{
    const QString side = svgNumber(kAppIconSide);
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                                 "viewBox=\"0 0 %1 %1\">\n"
                                 "  <rect width=\"%1\" height=\"%1\" rx=\"%2\" fill=\"%3\"/>\n"
                                 "  <g transform=\"translate(%4 %5)\" fill=\"%6\">\n")
                      .arg(side, svgNumber(kAppIconCornerRadius), kAppIconTile.name(), svgNumber(kAppIconOffset.x()),
                           svgNumber(kAppIconOffset.y()), kColour.name());
    for (const QRectF& bar : bars(DictationState::idle, 0))
        svg += QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"/>\n")
                   .arg(svgNumber(bar.x()), svgNumber(bar.y()), svgNumber(bar.width()), svgNumber(bar.height()),
                        svgNumber(kBarWidth / 2));
    svg += QStringLiteral("  </g>\n</svg>\n");
    return svg.toUtf8();
}
