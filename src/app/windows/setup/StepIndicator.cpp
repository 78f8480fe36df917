#include "app/windows/setup/StepIndicator.h"

#include "app/widgets/Symbols.h"

#include <QPainter>

namespace {

constexpr int kMargin = 20;
constexpr int kRow = 34;
constexpr int kBadge = 20;

} // namespace

StepIndicator::StepIndicator(const QStringList& titles, QWidget* parent) : QWidget(parent), m_titles(titles)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

void StepIndicator::setCurrent(int index)
{
    m_current = index;
    setAccessibleName(QStringLiteral("Step %1 of %2: %3").arg(index + 1).arg(m_titles.size()).arg(currentTitle()));
    update();
}

QSize StepIndicator::sizeHint() const
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    int widest = 0;
    for (const QString& title : m_titles)
        widest = qMax(widest, metrics.horizontalAdvance(title));
    return {kMargin + kBadge + 10 + widest + kMargin, 2 * kMargin + int(m_titles.size()) * kRow};
}

void StepIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const QColor window = colours.color(QPalette::Window);
    const bool dark = window.lightness() < 128;
    painter.fillRect(rect(), dark ? window.darker(118) : window.darker(105));
    QColor edge = colours.color(QPalette::WindowText);
    edge.setAlphaF(0.1);
    painter.setPen(edge);
    painter.drawLine(QPointF(width() - 0.5, 0), QPointF(width() - 0.5, height()));

    const QColor accent = colours.color(QPalette::Highlight);
    const QColor text = colours.color(QPalette::WindowText);
    QColor quiet = text;
    quiet.setAlphaF(0.5);
    QFont regular = font();
    QFont bold = regular;
    bold.setBold(true);
    QFont number = regular;
    number.setPointSizeF(regular.pointSizeF() * 0.85);
    number.setBold(true);

    for (int i = 0; i < m_titles.size(); ++i) {
        const int top = kMargin + i * kRow;
        const QRectF badge(kMargin, top + (kRow - kBadge) / 2.0, kBadge, kBadge);
        if (i < m_current) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(accent);
            painter.drawEllipse(badge);
            painter.setPen(
                QPen(colours.color(QPalette::HighlightedText), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QPointF o = badge.topLeft();
            painter.drawPolyline(QPolygonF{o + QPointF(5.8, 10.4), o + QPointF(8.8, 13.4), o + QPointF(14.4, 7)});
        } else if (i == m_current) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(accent);
            painter.drawEllipse(badge);
            painter.setFont(number);
            painter.setPen(colours.color(QPalette::HighlightedText));
            painter.drawText(badge, Qt::AlignCenter, QString::number(i + 1));
        } else {
            painter.setPen(QPen(quiet, 1.2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(badge.adjusted(0.6, 0.6, -0.6, -0.6));
            painter.setFont(number);
            painter.drawText(badge, Qt::AlignCenter, QString::number(i + 1));
        }
        painter.setFont(i == m_current ? bold : regular);
        painter.setPen(i > m_current ? quiet : text);
        painter.drawText(QRectF(badge.right() + 10, top, width() - badge.right() - 10 - kMargin / 2.0, kRow),
                         Qt::AlignLeft | Qt::AlignVCenter, m_titles[i]);
    }
}
