#include "app/shell/IdleWindowPresenter.h"

#include "control/DictationController.h"

IdleWindowPresenter::IdleWindowPresenter(WindowPresenter& windows, DictationController& controller, QObject* parent)
    : QObject(parent), m_windows(windows), m_controller(controller)
{}

void IdleWindowPresenter::whenIdle(void (WindowPresenter::*open)())
{
    if (m_controller.state() == DictationState::idle) {
        (m_windows.*open)();
        return;
    }
    connect(
        &m_controller, &DictationController::stateChanged, this, [this, open] { whenIdle(open); },
        Qt::SingleShotConnection);
}
