#include "platform/linux/PulseAudioBackend.h"

#include "PulseServer.h"
#include "audio/AudioInputList.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int kWait = 10000;

QStringList uids(const QList<AudioInputDevice>& devices)
{
    QStringList result;
    for (const AudioInputDevice& device : devices)
        result.append(device.uid);
    return result;
}

TEST(PulseAudioBackendTest, ListsTheMicrophonesButNotTheMonitorsOfOutputs)
{
    PulseAudioBackend backend;
    AudioInputList list(backend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.defaultInput().has_value(); }, kWait));

    const QStringList listed = uids(list.inputs());
    EXPECT_TRUE(listed.contains(QStringLiteral("vell_mic"))) << qPrintable(listed.join(QLatin1Char(' ')));
    EXPECT_TRUE(listed.contains(QStringLiteral("vell_usb_mic")));
    for (const QString& uid : listed)
        EXPECT_FALSE(uid.endsWith(QStringLiteral(".monitor"))) << qPrintable(uid);
    EXPECT_GT(backend.deviceIds().size(), listed.size()) << "the monitors are devices, just not inputs";

    const auto builtIn = AudioInputList::device(backend, QStringLiteral("vell_mic"));
    ASSERT_TRUE(builtIn);
    EXPECT_EQ(builtIn->name, QStringLiteral("Vell Built-in Microphone"));
    EXPECT_TRUE(builtIn->isBuiltIn);
    const auto usb = AudioInputList::device(backend, QStringLiteral("vell_usb_mic"));
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->name, QStringLiteral("Vell USB Microphone"));
    EXPECT_FALSE(usb->isBuiltIn);
    EXPECT_EQ(list.defaultInput(), builtIn);
    EXPECT_EQ(AudioInputList::firstBuiltIn(backend), builtIn);
}

TEST(PulseAudioBackendTest, FollowsSourcesComingAndGoingAndTheDefault)
{
    PulseServer server;
    PulseAudioBackend backend;
    AudioInputList list(backend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.defaultInput().has_value(); }, kWait));
    const AudioInputDevice originalDefault = *list.defaultInput();

    server.addMicrophone(QStringLiteral("vell_added_mic"), QStringLiteral("Added Microphone"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return uids(list.inputs()).contains(QStringLiteral("vell_added_mic")); }, kWait));

    QSignalSpy defaultChanged(&list, &AudioInputList::defaultInputChanged);
    PulseServer::pactl({QStringLiteral("set-default-source"), QStringLiteral("vell_added_mic")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.defaultInput() && list.defaultInput()->uid == QStringLiteral("vell_added_mic"); }, kWait));
    EXPECT_EQ(defaultChanged.count(), 1);

    // Removal events carry only the index.
    server.removeMicrophone(QStringLiteral("vell_added_mic"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !uids(list.inputs()).contains(QStringLiteral("vell_added_mic")); }, kWait));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.defaultInput() && list.defaultInput()->uid != QStringLiteral("vell_added_mic"); }, kWait));
    PulseServer::pactl({QStringLiteral("set-default-source"), originalDefault.uid});
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.defaultInput() == originalDefault; }, kWait));
}

TEST(PulseAudioBackendTest, WithoutAServerThereIsNothingAndRecordingFailsAtOnce)
{
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/vell/native");
    PulseAudioBackend backend;
    qputenv("PULSE_SERVER", server);

    QElapsedTimer clock;
    clock.start();
    std::atomic<int> failures = 0;
    auto stream = backend.openCapture(std::nullopt, {{}, [&](const AudioCaptureStream::Event& event) {
                                                         if (event.type == AudioCaptureStream::Event::Type::failed)
                                                             ++failures;
                                                     }});
    EXPECT_TRUE(QTest::qWaitFor([&] { return failures == 1; }, kWait));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(backend.deviceIds().isEmpty());
}

} // namespace
