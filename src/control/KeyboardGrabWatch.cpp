#include "control/KeyboardGrabWatch.h"

#include "platform/Workspace.h"
#include "storage/VellLog.h"

KeyboardGrabWatch::KeyboardGrabWatch(Workspace& workspace, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), m_workspace(workspace)
{
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &KeyboardGrabWatch::check);
    check();
    m_timer.start();
}

void KeyboardGrabWatch::check()
{
    std::optional<QString> owner;
    if (const std::optional<KeyboardGrab> grab = m_workspace.keyboardGrab())
        owner = grab->owner && grab->owner->name ? *grab->owner->name : QString();
    if (owner == m_app)
        return;
    VellLog::dictation().info(
        QStringLiteral("keyboard grab ") +
        (owner ? QStringLiteral("on (%1)").arg(owner->isEmpty() ? QStringLiteral("unknown app") : *owner)
               : QStringLiteral("off")));
    m_app = owner;
    Q_EMIT changed();
}
