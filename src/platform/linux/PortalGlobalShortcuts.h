#pragma once

#include "shortcut/Shortcut.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

class QDBusObjectPath;

// The shortcut in the portal's trigger format ("CTRL+ALT+space", "LOGO+d"):
// none for a modifier-only shortcut, which the portal cannot bind, and for a
// key without an xkb keysym name.
std::optional<QString> preferredTrigger(const Shortcut& shortcut);

// Hold-to-talk through the desktop's GlobalShortcuts portal (KDE, GNOME 48+):
// one session binding the shortcut "dictate", pressed() when the desktop
// activates it and released() when it deactivates. Every call is
// asynchronous; what went wrong is state(), with a sentence for the user.
class PortalShortcut : public QObject
{
    Q_OBJECT

public:
    enum class State {
        starting,     // asking the portal
        bound,        // the desktop holds the shortcut
        unavailable,  // the portal offers no GlobalShortcuts
        modifierOnly, // a lone modifier cannot be bound there
        refused,      // the user or the desktop said no
        closed,       // the desktop ended the session
        failed,       // the portal answered a call with an error
    };
    Q_ENUM(State)

    static inline const QString kShortcutId = QStringLiteral("dictate");
    static inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    // Starts binding `shortcut` on the session bus, or on `bus` for tests.
    explicit PortalShortcut(const Shortcut& shortcut, QObject* parent = nullptr);
    PortalShortcut(const Shortcut& shortcut, const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalShortcut() override;

    State state() const { return m_state; }
    // One sentence for the settings window.
    static QString describe(State state);
    QString description() const { return describe(m_state); }
    // How the desktop says the bound trigger ("Press Ctrl+Alt+Space"), once bound.
    const QString& triggerDescription() const { return m_triggerDescription; }

    // Binds `shortcut` in a new session; binds the same one again only when
    // it is not bound.
    void rebind(const Shortcut& shortcut);

Q_SIGNALS:
    void pressed();
    void released();
    void stateChanged(PortalShortcut::State state);

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap&);
    void onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp, const QVariantMap&);
    void onSessionClosed(const QVariantMap&, const QDBusMessage& message);

private:
    enum class Step { createSession, bind };
    struct Pending
    {
        Step step;
        int generation;
    };

    void start();
    void checkVersion();
    void createSession();
    void bind();
    // Calls `method` with options carrying a fresh handle_token, listening
    // first on the request path the portal will use.
    void request(Step step, const QString& method, QList<QVariant> arguments, QVariantMap options);
    void listenOnRequest(const QString& path, Step step, int generation);
    void forgetRequest(const QString& path);
    void closeSession();
    void releaseIfDown();
    void setState(State state);

    QDBusConnection m_bus;
    Shortcut m_shortcut;
    State m_state = State::starting;
    QString m_triggerDescription;
    std::optional<bool> m_offered; // the portal's answer, once known
    QString m_session;
    bool m_down = false;
    int m_generation = 0; // stale answers from an earlier rebind are dropped
    int m_tokens = 0;
    QHash<QString, Pending> m_requests;
};
