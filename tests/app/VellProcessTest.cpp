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

} // namespace
