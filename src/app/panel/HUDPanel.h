#pragma once

#include "app/panel/HUDView.h"
#include "control/DictationState.h"

#include <QObject>
#include <QRect>
#include <QTimer>

#include <memory>
#include <optional>

class DictationController;

// The heads-up panel: a small window near the bottom of the screen, shown
// while a dictation runs and while a notice is up. It never takes the
// keyboard focus and lets every click through, so the application that will
// receive the text stays in front. Created once at start-up; hidden, never
// closed. Main thread only.
class HUDPanel : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBottomMargin = 24;

    explicit HUDPanel(DictationController& controller, QObject* parent = nullptr);
    ~HUDPanel() override;

    // Hidden while idle without a notice, shown otherwise.
    static bool shouldShow(DictationState state, const std::optional<QString>& notice);
    // Centred, kBottomMargin above the bottom of the screen's free area.
    static QPoint placement(const QRect& available, const QSize& panel);

    bool isVisible() const;
    HUDView& view() { return *m_view; }

    // Applies the visibility rule; called, at most a frame late, after every
    // change of state or notice.
    void update();

private:
    DictationController& m_controller;
    std::unique_ptr<HUDView> m_view;
    QTimer m_catchUpTimer;
};
