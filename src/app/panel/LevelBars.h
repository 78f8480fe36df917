#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>

// The panel's microphone meter: five bars whose heights follow the level,
// easing out to each new level in a tenth of a second. The easing steps at
// about 30 frames a second, what the eye follows on a meter, and its timer
// runs only while the bars move: every tick wakes the app.
class LevelBars : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kBarWidth = 3;
    static constexpr int kGap = 2;
    static constexpr int kMaximumHeight = 18;
    static constexpr qreal kSmallestVisibleChange = 0.25; // pixels
    static constexpr std::chrono::milliseconds kFrameInterval{33};
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
    void step();

    float m_level = 0;
    std::array<qreal, 5> m_from{};
    std::array<qreal, 5> m_shown{};
    std::array<qreal, 5> m_painted{};
    QElapsedTimer m_sinceLevel;
    QTimer m_frames;
};
