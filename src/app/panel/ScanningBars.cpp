#include "app/panel/ScanningBars.h"

#include <QPainter>

#include <cmath>
#include <numbers>

ScanningBars::ScanningBars(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // One loop is one period of the sweep, so the loop's time is the sweep's.
    m_animation.setDuration(kPeriodMs);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void ScanningBars::setWeight(const std::array<qreal, 5>& weight)
{
    m_weight = weight;
    update();
}

std::array<ScanningBars::Bar, 5> ScanningBars::bars(const std::array<qreal, 5>& weight, qreal seconds)
{
    const qreal sweep = 2 + 2.6 * std::sin(2 * std::numbers::pi * seconds / (kPeriodMs / 1000.0));
    std::array<Bar, 5> result{};
    for (size_t i = 0; i < result.size(); ++i) {
        const qreal distance = qreal(i) - sweep;
        const qreal g = std::exp(-distance * distance / 0.9);
        result[i] = {4 + (kMaximumHeight - 4) * (0.3 * weight[i] + 0.7 * g), 0.4 + 0.6 * g};
    }
    return result;
}

QSize ScanningBars::sizeHint() const
{
    return {5 * kBarWidth + 4 * kGap, kMaximumHeight};
}

void ScanningBars::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor colour = palette().color(QPalette::WindowText);
    const qreal left = (width() - sizeHint().width()) / 2.0;
    const std::array<Bar, 5> shown = bars(m_weight, m_animation.currentLoopTime() / 1000.0);
    for (size_t i = 0; i < shown.size(); ++i) {
        painter.setOpacity(shown[i].opacity);
        painter.setBrush(colour);
        const qreal h = shown[i].height;
        painter.drawRoundedRect(QRectF(left + i * (kBarWidth + kGap), (height() - h) / 2.0, kBarWidth, h),
                                kBarWidth / 2.0, kBarWidth / 2.0);
    }
}

void ScanningBars::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_animation.start();
}

void ScanningBars::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_animation.stop();
}
