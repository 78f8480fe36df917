#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The real binary: it installs its keyboard tap and leaves cleanly on a signal.
class VellProcessTest : public ::testing::TestWithParam<int>
{
protected:
    QByteArray debugLog() const
    {
        QFile file(state.filePath(QStringLiteral("Vell/debug.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir state;
};

TEST_P(VellProcessTest, InstallsTheTapAndQuitsCleanlyOnSignal)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-x11";
    QProcess vell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    vell.setProcessEnvironment(environment);
    vell.start(QStringLiteral(VELL_BINARY));
    ASSERT_TRUE(vell.waitForStarted());

    ASSERT_TRUE(QTest::qWaitFor([&] { return debugLog().contains("hotkey: Event tap installed\n"); }, 10000))
        << debugLog().toStdString();
    ::kill(pid_t(vell.processId()), GetParam());
    ASSERT_TRUE(vell.waitForFinished(10000));
    EXPECT_EQ(vell.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vell.exitCode(), 0);
    EXPECT_TRUE(debugLog().contains(QStringLiteral("app: Quitting on signal %1\n").arg(GetParam()).toUtf8()));
}

INSTANTIATE_TEST_SUITE_P(Signals, VellProcessTest, ::testing::Values(SIGTERM, SIGINT));

// How many windows named `title` are shown on the screen.
qsizetype visibleWindowsNamed(const QString& title)
{
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title});
    search.waitForFinished(5000);
    const QByteArray found = search.readAllStandardOutput().trimmed();
    return found.isEmpty() ? 0 : found.split('\n').size();
}

// A second copy started in the same session takes over: the first one is
// asked to quit, and leaves cleanly. This desktop has no tray, so each copy
// opens its settings window: launching Vell again is the way back to it.
TEST(VellCopiesTest, TheSecondCopyQuitsTheFirstAndKeepsRunning)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-x11";
    QTemporaryDir firstState;
    QTemporaryDir secondState;
    const auto logOf = [](const QTemporaryDir& state) {
        QFile file(state.filePath(QStringLiteral("Vell/debug.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto launch = [](QProcess& vell, const QTemporaryDir& state) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        vell.setProcessEnvironment(environment);
        vell.start(QStringLiteral(VELL_BINARY));
        return vell.waitForStarted();
    };

    const QString settingsTitle = QStringLiteral("^Vell Settings$");
    QProcess first;
    ASSERT_TRUE(launch(first, firstState));
    const qint64 firstPid = first.processId();
    ASSERT_TRUE(QTest::qWaitFor([&] { return logOf(firstState).contains("hotkey: Event tap installed\n"); }, 10000));
    // No tray on this desktop: after a few seconds the settings window is the way in.
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindowsNamed(settingsTitle) == 1; }, 15000))
        << logOf(firstState).toStdString();
    EXPECT_TRUE(logOf(firstState).contains("app: no system tray; opening the settings window\n"));
    QProcess second;
    ASSERT_TRUE(launch(second, secondState));

    ASSERT_TRUE(first.waitForFinished(10000)) << logOf(firstState).toStdString();
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(logOf(firstState).contains("app: a newer copy asked this one to quit\n"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return logOf(secondState)
                .contains(QStringLiteral("app: quitting another running copy, pid %1\n").arg(firstPid).toUtf8());
        },
        5000))
        << logOf(secondState).toStdString();
    EXPECT_EQ(second.state(), QProcess::Running);
    // The new copy brings the window back.
    EXPECT_TRUE(QTest::qWaitFor([&] { return logOf(secondState).contains("opening the settings window"); }, 15000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return visibleWindowsNamed(settingsTitle) == 1; }, 5000));

    ::kill(pid_t(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
}

} // namespace
