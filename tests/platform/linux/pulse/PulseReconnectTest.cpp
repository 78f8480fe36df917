#include "audio/AudioCapture.h"
#include "audio/AudioInputList.h"
#include "platform/linux/PulseAudioBackend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

namespace {

constexpr int kWait = 15000;

// A second sound server of the test's own, which it can stop and start again.
class RestartableServer
{
public:
    RestartableServer()
    {
        QDir(m_folder.path()).mkpath(QStringLiteral("home"));
        QDir(m_folder.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_folder.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(m_folder.filePath(QStringLiteral("server.pa")));
        EXPECT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                                    "load-module module-null-source source_name=restartable_mic rate=48000 "
                                    "channels=1 max_latency_msec=20 description=Restartable_Mic\n"
                                    "set-default-source restartable_mic\n")
                         .arg(socket())
                         .toUtf8());
    }
    ~RestartableServer() { stop(); }

    QString socket() const { return m_folder.filePath(QStringLiteral("native")); }

    void start()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_folder.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("runtime")));
        environment.remove(QStringLiteral("PULSE_SERVER"));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("pulseaudio"),
                        {QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                         QStringLiteral("-F"), m_folder.filePath(QStringLiteral("server.pa"))});
        EXPECT_TRUE(m_process.waitForStarted());
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
        QFile::remove(socket());
    }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
};

bool lists(const AudioInputList& list, const QString& uid)
{
    return std::any_of(list.inputs().cbegin(), list.inputs().cend(),
                       [&](const AudioInputDevice& input) { return input.uid == uid; });
}

TEST(PulseReconnectTest, ALostServerEndsTheCaptureAndIsFoundAgainWhenItReturns)
{
    RestartableServer server;
    server.start();
    const QByteArray previous = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray("unix:") + server.socket().toUtf8());
    auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", previous); });

    PulseAudioBackend backend;
    AudioInputList list(backend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lists(list, QStringLiteral("restartable_mic")); }, kWait));

    std::mutex mutex;
    QStringList events;
    auto record = [&](const QString& event) {
        std::lock_guard lock(mutex);
        events.append(event);
    };
    auto recorded = [&](const QString& event) {
        std::lock_guard lock(mutex);
        return events.contains(event);
    };
    AudioCapture capture(backend);
    capture.setSink([](QByteArray) {});
    capture.setFailure([&](AudioCapture::CaptureError error) { record(AudioCapture::description(error)); });
    capture.start([&](std::optional<AudioCapture::CaptureError> error) {
        record(error ? QStringLiteral("start failed") : QStringLiteral("started"));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded(QStringLiteral("started")); }, kWait));

    server.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.inputs().isEmpty() && !list.defaultInput(); }, kWait));
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorded(QStringLiteral("No microphone input is available.")); }, kWait));
    EXPECT_FALSE(capture.isRunning());

    server.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lists(list, QStringLiteral("restartable_mic")); }, kWait));
    {
        std::lock_guard lock(mutex);
        events.clear();
    }
    capture.start([&](std::optional<AudioCapture::CaptureError> error) {
        record(error ? QStringLiteral("start failed") : QStringLiteral("started"));
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorded(QStringLiteral("started")); }, kWait));
}

} // namespace
