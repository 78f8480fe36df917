#include "app/panel/HUDPanel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

HUDPanel::HUDPanel(DictationController& controller, QObject* parent)
    : QObject(parent), m_controller(controller), m_view(std::make_unique<HUDView>(controller))
{
    // A tooltip-type window is left unmanaged by the window manager (no
    // decoration, no focus, no taskbar entry) and floats above normal
    // windows; the input and focus flags make it click-through and keep
    // the keyboard where it is.
    m_view->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                           Qt::X11BypassWindowManagerHint);
    m_view->setAttribute(Qt::WA_ShowWithoutActivating);
    m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_view->setFocusPolicy(Qt::NoFocus);

    m_catchUpTimer.setSingleShot(true);
    m_catchUpTimer.setInterval(HUDView::kCatchUp);
    connect(&m_catchUpTimer, &QTimer::timeout, this, &HUDPanel::update);
    const auto updateSoon = [this] {
        if (!m_catchUpTimer.isActive())
            m_catchUpTimer.start();
    };
    connect(&controller, &DictationController::stateChanged, this, updateSoon);
    connect(&controller.notice(), &Notice::changed, this, updateSoon);
    update();
}

HUDPanel::~HUDPanel() = default;

bool HUDPanel::shouldShow(DictationState state, const std::optional<QString>& notice)
{
    return state != DictationState::idle || notice.has_value();
}

QPoint HUDPanel::placement(const QRect& available, const QSize& panel)
{
    return {available.left() + (available.width() - panel.width()) / 2,
            available.top() + available.height() - kBottomMargin - panel.height()};
}

bool HUDPanel::isVisible() const
{
    return m_view->isVisible();
}

void HUDPanel::update()
{
    m_catchUpTimer.stop();
    if (!shouldShow(m_controller.state(), m_controller.notice().text())) {
        m_view->hide();
        return;
    }
    if (m_view->isVisible())
        return;
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        m_view->move(placement(screen->availableGeometry(), m_view->size()));
    m_view->refresh(); // shown as it is now, not as it was when it hid
    m_view->show();
    m_view->raise();
}
