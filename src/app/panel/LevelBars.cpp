#include "app/panel/LevelBars.h"

#include <QPainter>

namespace {

constexpr std::array<qreal, 5> kWeights{0.4, 0.7, 1.0, 0.7, 0.4};

} // namespace

LevelBars::LevelBars(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_shown = m_from = heights(0);
    m_animation.setDuration(100);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal progress = value.toReal();
        const std::array<qreal, 5> target = heights(m_level);
        qreal moved = 0;
        for (size_t i = 0; i < m_shown.size(); ++i) {
            m_shown[i] = m_from[i] + (target[i] - m_from[i]) * progress;
            moved = qMax(moved, qAbs(m_shown[i] - m_painted[i]));
        }
        // A new level comes every 20 ms; the eye sees neither a quarter pixel
        // nor more than about 30 frames a second.
        const bool settled = progress >= 1.0;
        if (moved < kSmallestVisibleChange && !settled)
            return;
        if (!settled && m_sincePaint.isValid() && m_sincePaint.elapsed() < kFrameInterval.count())
            return;
        update();
    });
}

std::array<qreal, 5> LevelBars::heights(float level)
{
    const qreal scale = qMin(3.0 * qMax(level, 0.0f), 1.0);
    std::array<qreal, 5> result{};
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = 4 + (kMaximumHeight - 4) * kWeights[i] * scale;
    return result;
}

void LevelBars::setLevel(float level)
{
    if (level == m_level)
        return;
    m_level = level;
    m_from = m_shown;
    if (!isVisible()) {
        m_shown = heights(level);
        return;
    }
    m_animation.stop();
    m_animation.start();
}

QSize LevelBars::sizeHint() const
{
    return {5 * kBarWidth + 4 * kGap, kMaximumHeight};
}

void LevelBars::paintEvent(QPaintEvent*)
{
    m_painted = m_shown;
    m_sincePaint.start();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::WindowText));
    const qreal left = (width() - sizeHint().width()) / 2.0;
    for (size_t i = 0; i < m_shown.size(); ++i) {
        const qreal h = m_shown[i];
        painter.drawRoundedRect(QRectF(left + i * (kBarWidth + kGap), (height() - h) / 2.0, kBarWidth, h),
                                kBarWidth / 2.0, kBarWidth / 2.0);
    }
}
