#pragma once

#include "platform/KeystrokePoster.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <deque>

class QSettings;

// Posts keystrokes through the desktop portal's RemoteDesktop interface, the
// one way into native Wayland applications on GNOME and KDE. One portal
// session serves the whole lifetime. Opening it shows the desktop's consent
// dialog, so it is opened only by requestAccess(), at a moment the user
// expects a question; until it is granted every chord answers false. Portals
// of version 2 or later may remember the consent: the restore token they give
// is kept in `store` and offered the next time.
// The portal's keyboard is a device of its own, so keys the user still holds
// cannot be let go through it: the chord is posted as it is.
class PortalKeystrokePoster final : public QObject, public KeystrokePoster, protected QDBusContext
{
    Q_OBJECT

public:
    explicit PortalKeystrokePoster(QSettings& store, const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                   QObject* parent = nullptr);
    ~PortalKeystrokePoster() override;

    // notAsked until requestAccess(); refused also once the desktop ends a
    // granted session.
    Access access() const override { return m_access; }

    // Opens the session, asking the desktop for consent. Does nothing while
    // asking or granted.
    void requestAccess() override;

    // Taps the physical key `keyCode` names (by evdev code, so a shortcut's
    // key stays the same key on every layout) with the left keys of `modifiers`.
    bool postChord(ModifierKeys modifiers, quint16 keyCode) override;
    // By keysym, which the desktop maps onto the user's layout: V is the key
    // that types "v" there.
    bool paste(PasteKeys keys) override;
    // The applications it reaches are native Wayland ones, which open no menu
    // bar on a lone modifier tap: nothing to post, and false.
    bool postBlankKey() override { return false; }

    static inline const QString kRestoreTokenKey = QStringLiteral("remoteDesktopRestoreToken");

Q_SIGNALS:
    void accessChanged(KeystrokePoster::Access access);

private Q_SLOTS:
    // QtDBus connects bus signals by slot signature only. A signal queued
    // before its match was removed may still arrive: each checks its path.
    void onResponse(uint code, const QVariantMap& results);
    void onSessionClosed(const QVariantMap& details);

private:
    enum class Step { none, createSession, selectDevices, start };

    void setAccess(Access access);
    void askVersion();
    void createSession();
    void selectDevices();
    void start();
    // Calls `method` with `arguments` (whose last is the options map, which
    // gains a handle_token), having subscribed to the Request it will answer on.
    void callWithRequest(Step step, const QString& method, QVariantList arguments);
    void watchRequest(const QString& path);
    void unwatchRequest();
    void fail(const QString& why);
    void closeSession();
    void sendKeysym(int keysym, bool down);
    void sendKeycode(int evdevCode, bool down);
    void send(const QString& method, int key, bool down);
    void sendFirst();

    struct Key
    {
        QString method;
        int key = 0;
        bool down = false;
    };

    QSettings& m_store;
    QDBusConnection m_bus;
    Access m_access = Access::notAsked;
    Step m_step = Step::none;
    uint m_version = 0;
    quint64 m_tokens = 0;
    QString m_request; // the object path whose Response is awaited
    QString m_session;
    std::deque<Key> m_queue; // the front one is on its way
};
