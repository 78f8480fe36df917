#include "platform/linux/LogindSessionEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr char kSessionPath[] = "/org/freedesktop/login1/session/_3";

// logind's manager as far as the watcher asks it: every process is in session 3.
class FakeLogindManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public Q_SLOTS:
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath(QString::fromLatin1(kSessionPath)); }
};

// A second connection to the test's session bus plays logind and the
// screensaver; the watcher listens with the session bus standing in for both.
class LogindSessionEventsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        ASSERT_TRUE(services.isConnected());
        ASSERT_TRUE(services.registerService(QStringLiteral("org.freedesktop.login1")));
        ASSERT_TRUE(services.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                            QDBusConnection::ExportAllSlots));
        events = std::make_unique<LogindSessionEvents>(QDBusConnection::sessionBus(), QDBusConnection::sessionBus());
    }

    void TearDown() override { QDBusConnection::disconnectFromBus(services.name()); }

    void emitSignal(const char* path, const char* interface, const char* name, const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createSignal(QString::fromLatin1(path), QString::fromLatin1(interface),
                                                          QString::fromLatin1(name));
        message.setArguments(arguments);
        ASSERT_TRUE(services.send(message));
    }

    // The watcher learns who owns the logind name in the background; until it
    // has, a signal from that name is not matched. Send until one arrives.
    bool emitUntilHeard(QSignalSpy& spy, const char* path, const char* interface, const char* name,
                        const QVariantList& arguments = {})
    {
        const qsizetype before = spy.count();
        for (int attempt = 0; attempt < 30; ++attempt) {
            emitSignal(path, interface, name, arguments);
            if (spy.count() > before || spy.wait(100))
                return true;
        }
        return false;
    }

    QDBusConnection services = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("services"));
    FakeLogindManager manager;
    std::unique_ptr<LogindSessionEvents> events; // made once the fake logind is there
};

TEST_F(LogindSessionEventsTest, SleepAndWakeComeFromPrepareForSleep)
{
    QSignalSpy sleeping(events.get(), &SessionEvents::goingToSleep);
    QSignalSpy woke(events.get(), &SessionEvents::wokeUp);
    ASSERT_TRUE(emitUntilHeard(sleeping, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                               {true}));
    // Signals from one sender arrive in order: once this lock is heard, every
    // sleep signal sent before it has been handled too.
    QSignalSpy locked(events.get(), &SessionEvents::screenLocked);
    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", {true});
    ASSERT_TRUE(locked.wait(3000));
    ASSERT_TRUE(woke.isEmpty());
    ASSERT_TRUE(
        emitUntilHeard(woke, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", {false}));
    EXPECT_EQ(woke.first().first().toString(), LogindSessionEvents::kSleepSignal);
}

TEST_F(LogindSessionEventsTest, LockAndUnlockComeFromEveryScreensaverAndFromLogind)
{
    QSignalSpy locked(events.get(), &SessionEvents::screenLocked);
    QSignalSpy unlocked(events.get(), &SessionEvents::screenUnlocked);

    emitSignal("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", {true});
    ASSERT_TRUE(locked.wait(3000));
    emitSignal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", {false});
    ASSERT_TRUE(unlocked.wait(3000));
    EXPECT_EQ(unlocked.last().first().toString(), LogindSessionEvents::kScreenSaverSignal);

    // logind signals on the session's own path, never on the ".../auto" alias.
    ASSERT_TRUE(emitUntilHeard(unlocked, kSessionPath, "org.freedesktop.login1.Session", "Unlock"));
    EXPECT_EQ(unlocked.last().first().toString(), LogindSessionEvents::kUnlockSignal);
    EXPECT_EQ(locked.count(), 1);
    emitSignal(kSessionPath, "org.freedesktop.login1.Session", "Lock");
    ASSERT_TRUE(locked.wait(3000));
}

TEST_F(LogindSessionEventsTest, AnotherUserTakingTheScreenCountsAsALock)
{
    QSignalSpy locked(events.get(), &SessionEvents::screenLocked);
    QSignalSpy unlocked(events.get(), &SessionEvents::screenUnlocked);
    const auto activeBecomes = [](bool active) {
        return QVariantList{QStringLiteral("org.freedesktop.login1.Session"),
                            QVariantMap{{QStringLiteral("Active"), active}}, QStringList()};
    };
    ASSERT_TRUE(emitUntilHeard(locked, kSessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                               activeBecomes(false)));
    ASSERT_TRUE(emitUntilHeard(unlocked, kSessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                               activeBecomes(true)));
    EXPECT_EQ(unlocked.last().first().toString(), LogindSessionEvents::kActiveSignal);
}

} // namespace

#include "LogindSessionEventsTest.moc"
