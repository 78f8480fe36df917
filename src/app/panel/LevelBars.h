#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>

// The panel's microphone meter: five bars whose heights follow the level,
// easing out to each new level in a tenth of a second. Every wake-up of the
// app costs, so levels, which come twenty times a second and at most 60 ms
// apart, draw the easing's frames while they flow; a timer that each level
// restarts only finishes an easing once they stop.
class LevelBars : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kBarWidth = 3;
    static constexpr int kGap = 2;
    static constexpr int kSmallestHeight = 4;
    static constexpr int kMaximumHeight = 18;
    static constexpr qreal kSmallestVisibleChange = 0.25; // pixels
    static constexpr std::chrono::milliseconds kFrameInterval{65};
    static constexpr std::chrono::milliseconds kEaseTime{100};

    explicit LevelBars(QWidget* parent = nullptr);

    float level() const { return m_level; }
    void setLevel(float level);

    // The resting height of each bar at `level`.
    static std::array<qreal, 5> heights(float level);
    // What is drawn now, part way through an animation.
    const std::array<qreal, 5>& shownHeights() const { return m_shown; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The look every cached bar was drawn with; another one empties the cache.
    struct BarLook
    {
        qreal pixelRatio = 0;
        int height = 0;
        qreal left = 0; // where a bar starts within its column
        QRgb background = 0;
        QRgb bar = 0;
        bool operator==(const BarLook&) const = default;
    };

    void step();
    // A column of the meter's height holding one bar `height` pixels tall.
    const QImage& barColumn(qreal height, const BarLook& look);

    float m_level = 0;
    std::array<qreal, 5> m_from{};
    std::array<qreal, 5> m_shown{};
    std::array<qreal, 5> m_painted{};
    QElapsedTimer m_sinceLevel;
    QTimer m_frames;
    // Antialiased rounded bars cost more to draw than the rest of a repaint,
    // and their heights are a quarter pixel apart: each is drawn once.
    BarLook m_barLook;
    QList<QImage> m_barColumns; // by height in quarter pixels above the smallest
};
