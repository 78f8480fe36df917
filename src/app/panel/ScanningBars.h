#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include <array>

// The panel's "working" indicator: a highlight sweeping back and forth
// across five bars. It animates at the display's frame rate, and only while
// it is shown.
class ScanningBars : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kBarWidth = 3;
    static constexpr int kGap = 2;
    static constexpr int kMaximumHeight = 18;
    static constexpr int kPeriodMs = 1400;

    explicit ScanningBars(QWidget* parent = nullptr);

    const std::array<qreal, 5>& weight() const { return m_weight; }
    void setWeight(const std::array<qreal, 5>& weight);

    struct Bar
    {
        qreal height;
        qreal opacity;
    };
    // The bars `seconds` into the sweep.
    static std::array<Bar, 5> bars(const std::array<qreal, 5>& weight, qreal seconds);

    bool isAnimating() const { return m_animation.state() == QAbstractAnimation::Running; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::array<qreal, 5> m_weight{0.4, 0.7, 1.0, 0.7, 0.4};
    QVariantAnimation m_animation;
};
