#include "app/windows/history/DailyWordsChart.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

DailyWordsChart::DailyWordsChart(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void DailyWordsChart::setDays(const QList<UsageLog::DayWords>& days)
{
    m_days = days;
    QStringList spoken;
    for (const UsageLog::DayWords& day : days)
        spoken << QStringLiteral("%1: %2").arg(QLocale().toString(day.day, QLocale::ShortFormat)).arg(day.words);
    setAccessibleDescription(spoken.join(QStringLiteral(", ")));
    update();
}

qint64 DailyWordsChart::axisMaximum(qint64 largest)
{
    if (largest <= 0)
        return 100;
    if (largest < 10)
        return 10;
    // A round number whose half is round too.
    const double magnitude = std::pow(10.0, std::floor(std::log10(double(largest))));
    for (const double step : {1.0, 1.2, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
        if (step * magnitude >= double(largest))
            return qint64(step * magnitude);
    return largest;
}

void DailyWordsChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QLocale locale;
    const QColor text = palette().color(QPalette::WindowText);
    QColor quiet = text;
    quiet.setAlphaF(0.6);
    QColor grid = text;
    grid.setAlphaF(0.12);
    const QFont base = font();
    QFont small = base;
    small.setPointSizeF(base.pointSizeF() * 0.85);
    const QFontMetrics metrics(small);

    qint64 largest = 0;
    for (const UsageLog::DayWords& day : m_days)
        largest = std::max(largest, day.words);
    const qint64 top = axisMaximum(largest);

    // The axis title, turned up the left edge.
    painter.setFont(small);
    painter.setPen(quiet);
    const int titleWidth = metrics.height() + 4;
    painter.save();
    painter.translate(metrics.ascent(), height() / 2.0);
    painter.rotate(-90);
    painter.drawText(QRectF(-height() / 2.0, -metrics.ascent(), height(), metrics.height()), Qt::AlignCenter,
                     QStringLiteral("Words"));
    painter.restore();

    const QString topLabel = locale.toString(top);
    const int labelsWidth = std::max(metrics.horizontalAdvance(topLabel), metrics.horizontalAdvance(u"0"_qs)) + 6;
    const QRectF plot(titleWidth + labelsWidth, metrics.height() / 2.0, width() - titleWidth - labelsWidth - 2,
                      height() - metrics.height() / 2.0 - 2 * metrics.height() - 8);

    // Grid lines at 0, half and the top.
    for (int step = 0; step <= 2; ++step) {
        const double y = plot.bottom() - plot.height() * step / 2.0;
        painter.setPen(QPen(grid, 1));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(quiet);
        painter.drawText(QRectF(titleWidth, y - metrics.height() / 2.0, labelsWidth - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, locale.toString(top * step / 2));
    }

    if (m_days.isEmpty())
        return;
    const double slot = plot.width() / m_days.size();
    const double barWidth = std::max(2.0, slot * 0.62);
    const QColor bar = palette().color(QPalette::Highlight);
    int previousMonth = 0;
    for (qsizetype i = 0; i < m_days.size(); ++i) {
        const UsageLog::DayWords& day = m_days[i];
        const double x = plot.left() + slot * i + (slot - barWidth) / 2.0;
        const double h = plot.height() * double(day.words) / double(top);
        if (day.words > 0) {
            QPainterPath path;
            const QRectF rect(x, plot.bottom() - std::max(h, 2.0), barWidth, std::max(h, 2.0));
            path.addRoundedRect(rect, std::min(3.0, barWidth / 3), std::min(3.0, barWidth / 3));
            painter.fillPath(path, bar);
        }
        // The day under each bar; the month under the first day and where it changes.
        painter.setPen(i == m_days.size() - 1 ? text : quiet);
        const QRectF dayRect(plot.left() + slot * i, plot.bottom() + 4, slot, metrics.height());
        painter.drawText(dayRect, Qt::AlignHCenter | Qt::AlignTop, locale.toString(day.day.day()));
        if (day.day.month() != previousMonth) {
            painter.setPen(quiet);
            painter.drawText(QRectF(dayRect.left() - slot, dayRect.bottom(), slot * 3, metrics.height()),
                             Qt::AlignHCenter | Qt::AlignTop, locale.monthName(day.day.month(), QLocale::ShortFormat));
            previousMonth = day.day.month();
        }
    }
}
