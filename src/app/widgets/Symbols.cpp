#include "app/widgets/Symbols.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace {

using Symbol = Symbols::Symbol;
using Tint = Symbols::Tint;

QColor colourOf(Tint tint, QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    if (mode == QIcon::Disabled)
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    switch (tint) {
    case Tint::text:
        return palette.color(QPalette::WindowText);
    case Tint::secondary:
        return palette.color(QPalette::PlaceholderText);
    case Tint::accent:
        return palette.color(QPalette::Highlight);
    case Tint::success:
        return dark ? QColor(48, 209, 88) : QColor(40, 160, 70);
    case Tint::failure:
        return dark ? QColor(255, 95, 87) : QColor(210, 50, 45);
    case Tint::warning:
        return dark ? QColor(255, 179, 64) : QColor(224, 140, 20);
    }
    return palette.color(QPalette::WindowText);
}

QPainterPath star(QPointF centre, qreal radius)
{
    // Four points joined by curves drawn in towards the centre.
    QPainterPath path;
    const QPointF top = centre + QPointF(0, -radius);
    const QPointF right = centre + QPointF(radius, 0);
    const QPointF bottom = centre + QPointF(0, radius);
    const QPointF left = centre + QPointF(-radius, 0);
    const qreal pinch = radius * 0.18;
    path.moveTo(top);
    path.quadTo(centre + QPointF(pinch, -pinch), right);
    path.quadTo(centre + QPointF(pinch, pinch), bottom);
    path.quadTo(centre + QPointF(-pinch, pinch), left);
    path.quadTo(centre + QPointF(-pinch, -pinch), top);
    path.closeSubpath();
    return path;
}

// Draws into a 16 × 16 box.
void draw(QPainter& p, Symbol symbol, const QColor& colour)
{
    QPen pen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);

    switch (symbol) {
    case Symbol::checkmark:
        pen.setWidthF(1.9);
        p.setPen(pen);
        p.drawPolyline(QPolygonF{{2.8, 8.6}, {6.4, 12.2}, {13.2, 4.2}});
        break;
    case Symbol::xmark:
        pen.setWidthF(1.8);
        p.setPen(pen);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case Symbol::checkmarkCircleFill: {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        p.setPen(QPen(Qt::white, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF{{4.6, 8.2}, {7, 10.6}, {11.4, 5.6}});
        break;
    }
    case Symbol::exclamationTriangleFill: {
        QPainterPath triangle;
        triangle.moveTo(8, 1.6);
        triangle.lineTo(15.2, 14.2);
        triangle.lineTo(0.8, 14.2);
        triangle.closeSubpath();
        p.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(colour);
        p.drawPath(triangle);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 6), QPointF(8, 9.6));
        p.drawPoint(QPointF(8, 12));
        break;
    }
    case Symbol::waveform: {
        const qreal heights[] = {5, 10, 13, 8, 4};
        pen.setWidthF(1.6);
        p.setPen(pen);
        for (int i = 0; i < 5; ++i) {
            const qreal x = 2.5 + i * 2.75;
            p.drawLine(QPointF(x, 8 - heights[i] / 2), QPointF(x, 8 + heights[i] / 2));
        }
        break;
    }
    case Symbol::sparkles:
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawPath(star(QPointF(6.5, 9), 6));
        p.drawPath(star(QPointF(12.5, 3.8), 3));
        p.drawPath(star(QPointF(13, 12.5), 2.2));
        break;
    case Symbol::desktopComputer:
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1.5, 1.5);
        p.drawLine(QPointF(8, 11.5), QPointF(8, 14));
        p.drawLine(QPointF(5, 14), QPointF(11, 14));
        break;
    case Symbol::textAlignLeft:
        p.drawLine(QPointF(2, 3.5), QPointF(14, 3.5));
        p.drawLine(QPointF(2, 6.5), QPointF(10, 6.5));
        p.drawLine(QPointF(2, 9.5), QPointF(14, 9.5));
        p.drawLine(QPointF(2, 12.5), QPointF(8, 12.5));
        break;
    case Symbol::trash:
        p.drawLine(QPointF(2, 4), QPointF(14, 4));
        p.drawLine(QPointF(6, 4), QPointF(6.5, 2));
        p.drawLine(QPointF(6.5, 2), QPointF(9.5, 2));
        p.drawLine(QPointF(9.5, 2), QPointF(10, 4));
        p.drawPolyline(QPolygonF{{3.5, 4}, {4.5, 14.5}, {11.5, 14.5}, {12.5, 4}});
        p.drawLine(QPointF(6.5, 7), QPointF(6.7, 12));
        p.drawLine(QPointF(9.5, 7), QPointF(9.3, 12));
        break;
    case Symbol::docOnDoc:
        p.drawRoundedRect(QRectF(5, 1.5, 9, 10.5), 1.5, 1.5);
        p.drawPolyline(QPolygonF{{3.5, 4.5}, {2, 4.5}, {2, 14.5}, {10.5, 14.5}, {10.5, 13.5}});
        break;
    case Symbol::gearshape: {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        QPainterPath gear;
        const QPointF c(8, 8);
        for (int i = 0; i < 8; ++i) {
            QPainterPath tooth;
            tooth.addRoundedRect(QRectF(-1.6, -7.4, 3.2, 4), 0.8, 0.8);
            QTransform turn;
            turn.translate(c.x(), c.y());
            turn.rotate(i * 45);
            gear.addPath(turn.map(tooth));
        }
        gear.addEllipse(c, 5.2, 5.2);
        QPainterPath hole;
        hole.addEllipse(c, 2.2, 2.2);
        p.drawPath(gear.simplified().subtracted(hole));
        break;
    }
    case Symbol::characterBook:
        p.drawRoundedRect(QRectF(3, 1.5, 10.5, 13), 1.5, 1.5);
        p.drawLine(QPointF(5.5, 1.5), QPointF(5.5, 14.5));
        p.drawPolyline(QPolygonF{{7.6, 10}, {9.6, 4.5}, {11.6, 10}});
        p.drawLine(QPointF(8.3, 8.2), QPointF(10.9, 8.2));
        break;
    case Symbol::checkmarkShield: {
        QPainterPath shield;
        shield.moveTo(8, 1.2);
        shield.cubicTo(10, 2.6, 12, 3, 14, 3);
        shield.cubicTo(14, 9, 12, 12.6, 8, 15);
        shield.cubicTo(4, 12.6, 2, 9, 2, 3);
        shield.cubicTo(4, 3, 6, 2.6, 8, 1.2);
        shield.closeSubpath();
        p.drawPath(shield);
        p.drawPolyline(QPolygonF{{5.2, 8}, {7.2, 10}, {10.8, 5.8}});
        break;
    }
    }
}

class SymbolEngine final : public QIconEngine
{
public:
    SymbolEngine(Symbol symbol, Tint tint) : m_symbol(symbol), m_tint(tint) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 16.0, side / 16.0);
        draw(*painter, m_symbol, colourOf(m_tint, mode));
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new SymbolEngine(m_symbol, m_tint); }

private:
    Symbol m_symbol;
    Tint m_tint;
};

} // namespace

QIcon Symbols::icon(Symbol symbol, Tint tint)
{
    return QIcon(new SymbolEngine(symbol, tint));
}

QPixmap Symbols::pixmap(Symbol symbol, int size, Tint tint, qreal devicePixelRatio)
{
    const int device = int(std::ceil(size * devicePixelRatio));
    QPixmap pixmap(device, device);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        SymbolEngine(symbol, tint).paint(&painter, QRect(0, 0, device, device), QIcon::Normal, QIcon::Off);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}
