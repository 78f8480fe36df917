#include "app/widgets/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// An exclamation mark in the middle of `box`, cut out of what is drawn.
void exclamation(QPainter& painter, const QRectF& box, const QColor& colour, qreal top, qreal bottom)
{
    const qreal width = box.width() * 0.12;
    const qreal x = box.center().x() - width / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(x, box.top() + box.height() * top, width, box.height() * (bottom - top)), width / 2,
                            width / 2);
    painter.drawEllipse(QRectF(x, box.top() + box.height() * (bottom + 0.07), width, width));
}

} // namespace

void SymbolIcon::paint(QPainter& painter, Kind kind, const QRectF& box, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = box.width();
    const QColor cut = Qt::transparent;
    switch (kind) {
    case Kind::warningFilled: {
        QPainterPath triangle;
        triangle.moveTo(box.left() + s * 0.5, box.top() + s * 0.06);
        triangle.lineTo(box.left() + s * 0.97, box.top() + s * 0.9);
        triangle.lineTo(box.left() + s * 0.03, box.top() + s * 0.9);
        triangle.closeSubpath();
        painter.setPen(QPen(colour, s * 0.06, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(colour);
        painter.drawPath(triangle);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        exclamation(painter, box, cut, 0.32, 0.64);
        break;
    }
    case Kind::lockFilled: {
        painter.setPen(QPen(colour, s * 0.11));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(box.left() + s * 0.28, box.top() + s * 0.08, s * 0.44, s * 0.5), 0, 180 * 16);
        painter.drawLine(QPointF(box.left() + s * 0.28, box.top() + s * 0.33),
                         QPointF(box.left() + s * 0.28, box.top() + s * 0.45));
        painter.drawLine(QPointF(box.left() + s * 0.72, box.top() + s * 0.33),
                         QPointF(box.left() + s * 0.72, box.top() + s * 0.45));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(box.left() + s * 0.16, box.top() + s * 0.42, s * 0.68, s * 0.5), s * 0.08,
                                s * 0.08);
        break;
    }
    case Kind::notice:
        painter.setPen(QPen(colour, s * 0.08));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(box.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06));
        exclamation(painter, box, colour, 0.24, 0.6);
        break;
    case Kind::noticeFilled:
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(box.adjusted(s * 0.02, s * 0.02, -s * 0.02, -s * 0.02));
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        exclamation(painter, box, cut, 0.24, 0.6);
        break;
    case Kind::clipboard: {
        painter.setPen(QPen(colour, s * 0.08, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(box.left() + s * 0.16, box.top() + s * 0.12, s * 0.68, s * 0.82), s * 0.1,
                                s * 0.1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(QRectF(box.left() + s * 0.34, box.top() + s * 0.04, s * 0.32, s * 0.16), s * 0.05,
                                s * 0.05);
        painter.setPen(QPen(colour, s * 0.07, Qt::SolidLine, Qt::RoundCap));
        for (const qreal y : {0.4, 0.56, 0.72}) {
            painter.drawPoint(QPointF(box.left() + s * 0.32, box.top() + s * y));
            painter.drawLine(QPointF(box.left() + s * 0.43, box.top() + s * y),
                             QPointF(box.left() + s * 0.68, box.top() + s * y));
        }
        break;
    }
    }
    painter.restore();
}

QIcon SymbolIcon::icon(Kind kind, const QColor& colour, int side)
{
    QIcon result;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(side, side) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, kind, QRectF(0, 0, side, side), colour);
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}
