#include "app/panel/LevelBars.h"

#include <QPainter>

#include <cmath>

namespace {

constexpr std::array<qreal, 5> kWeights{0.4, 0.7, 1.0, 0.7, 0.4};

} // namespace

LevelBars::LevelBars(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // It fills its own rectangle with the card's colour, so a new level
    // repaints the bars alone and not the card beneath them.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_shown = m_from = m_painted = heights(0);
    m_frames.setInterval(kFrameInterval);
    connect(&m_frames, &QTimer::timeout, this, &LevelBars::step);
}

std::array<qreal, 5> LevelBars::heights(float level)
{
    const qreal scale = qMin(3.0 * qMax(level, 0.0f), 1.0);
    std::array<qreal, 5> result{};
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = kSmallestHeight + (kMaximumHeight - kSmallestHeight) * kWeights[i] * scale;
    return result;
}

void LevelBars::setLevel(float level)
{
    if (level == m_level)
        return;
    // While levels keep coming, each one draws the frame of the easing so far;
    // the timer only finishes an easing once they stop.
    if (m_frames.isActive())
        step();
    m_level = level;
    m_from = m_shown;
    if (!isVisible()) {
        m_shown = heights(level);
        return;
    }
    m_sinceLevel.start();
    m_frames.start();
}

void LevelBars::step()
{
    const qreal progress = qMin(qreal(m_sinceLevel.elapsed()) / qreal(kEaseTime.count()), 1.0);
    const qreal eased = 1 - std::pow(1 - progress, 3); // out-cubic
    const std::array<qreal, 5> target = heights(m_level);
    qreal moved = 0;
    for (size_t i = 0; i < m_shown.size(); ++i) {
        m_shown[i] = progress >= 1 ? target[i] : m_from[i] + (target[i] - m_from[i]) * eased;
        moved = qMax(moved, qAbs(m_shown[i] - m_painted[i]));
    }
    if (progress >= 1)
        m_frames.stop();
    // The eye sees no quarter pixel.
    if (moved >= kSmallestVisibleChange || progress >= 1)
        update();
}

QSize LevelBars::sizeHint() const
{
    return {5 * kBarWidth + 4 * kGap, kMaximumHeight};
}

void LevelBars::paintEvent(QPaintEvent*)
{
    m_painted = m_shown;
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    painter.fillRect(rect(), background);
    // Bars start a whole number of pixels apart; a centred meter may start half way into one.
    const qreal left = (width() - sizeHint().width()) / 2.0;
    const qreal whole = std::floor(left);
    const BarLook look{devicePixelRatioF(), height(), left - whole, background.rgba(),
                       palette().color(QPalette::WindowText).rgba()};
    for (size_t i = 0; i < m_shown.size(); ++i)
        painter.drawImage(QPointF(whole + qreal(i) * (kBarWidth + kGap), 0), barColumn(m_shown[i], look));
}

const QImage& LevelBars::barColumn(qreal height, const BarLook& look)
{
    if (look != m_barLook) {
        m_barLook = look;
        m_barColumns.clear();
    }
    const qsizetype step =
        qMax(qsizetype(0), qsizetype(std::lround((height - kSmallestHeight) / kSmallestVisibleChange)));
    if (step >= m_barColumns.size())
        m_barColumns.resize(step + 1);
    QImage& column = m_barColumns[step];
    if (!column.isNull())
        return column;
    const qreal h = kSmallestHeight + qreal(step) * kSmallestVisibleChange;
    const QSizeF size(kBarWidth + 1, look.height);
    column = QImage((size * look.pixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    column.setDevicePixelRatio(look.pixelRatio);
    column.fill(QColor::fromRgba(look.background));
    QPainter painter(&column);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(look.bar));
    painter.drawRoundedRect(QRectF(look.left, (look.height - h) / 2.0, kBarWidth, h), kBarWidth / 2.0, kBarWidth / 2.0);
    return column;
}
