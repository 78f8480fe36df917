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
    // Queued: the controller turns idle just before it pastes, and the window
    // must open only once the paste has gone out.
    connect(
        &m_controller, &DictationController::stateChanged, this, [this, open] { whenIdle(open); },
        Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
}
