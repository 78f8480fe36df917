#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class Workspace;

// Watches for another program holding the whole keyboard (a password prompt
// or a screen locker's grab), during which the shortcut cannot be seen. Looks
// at once and then every `interval`. Main thread only; `changed` fires only
// when the holder changes. `workspace` must outlive the watch.
class KeyboardGrabWatch : public QObject
{
    Q_OBJECT

public:
    KeyboardGrabWatch(Workspace& workspace, std::chrono::milliseconds interval, QObject* parent = nullptr);

    // The program holding the keyboard: absent when none does, empty when it is unknown.
    const std::optional<QString>& app() const { return m_app; }

    void check();

Q_SIGNALS:
    void changed();

private:
    Workspace& m_workspace;
    QTimer m_timer;
    std::optional<QString> m_app;
};
