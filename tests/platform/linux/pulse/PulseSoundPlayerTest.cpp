#include "platform/linux/PulseSoundPlayer.h"

#include "PulseServer.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int kWait = 10000;

QJsonArray soundsPlaying()
{
    QJsonArray sounds;
    for (const QJsonValue& input : PulseServer::list(QStringLiteral("sink-inputs")))
        if (input[QStringLiteral("properties")][QStringLiteral("media.role")].toString() == QStringLiteral("event"))
            sounds.append(input);
    return sounds;
}

// A tone made with sox, long enough to be seen playing.
QString makeTone(const QTemporaryDir& folder, const QString& name, const QString& seconds)
{
    const QString path = folder.filePath(name);
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-b"),
               QStringLiteral("16"), QStringLiteral("-c"), QStringLiteral("2"), path, QStringLiteral("synth"), seconds,
               QStringLiteral("sine"), QStringLiteral("440")});
    EXPECT_TRUE(sox.waitForFinished() && sox.exitCode() == 0);
    return path;
}

TEST(PulseSoundPlayerTest, ReadsTheShippedCuesAndRefusesWhatIsNotAWaveFile)
{
    QTemporaryDir folder;
    QFile notWave(folder.filePath(QStringLiteral("text.wav")));
    ASSERT_TRUE(notWave.open(QIODevice::WriteOnly));
    notWave.write("RIFF\x10\x00\x00\x00WAVEjunk and more");
    notWave.close();

    PulseSoundPlayer player;
    EXPECT_TRUE(player.load(QStringLiteral(":/sounds/DictationStart.wav"), 0.5f));
    EXPECT_TRUE(player.load(QStringLiteral(":/sounds/DictationStop.wav"), 0.5f));
    EXPECT_FALSE(player.load(notWave.fileName(), 0.5f));
    EXPECT_FALSE(player.load(folder.filePath(QStringLiteral("missing.wav")), 0.5f));
}

TEST(PulseSoundPlayerTest, PlaysAtTheGivenVolumeWithoutLayeringAndStops)
{
    QTemporaryDir folder;
    PulseSoundPlayer player;
    const auto tone = player.load(makeTone(folder, QStringLiteral("tone.wav"), QStringLiteral("5")), 0.5f);
    ASSERT_TRUE(tone);

    // The connection comes up in the background.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            player.play(*tone);
            return !soundsPlaying().isEmpty();
        },
        kWait));
    player.play(*tone);
    const QJsonArray playing = soundsPlaying();
    ASSERT_EQ(playing.size(), 1);
    const QJsonObject volume = playing[0][QStringLiteral("volume")].toObject();
    ASSERT_FALSE(volume.isEmpty());
    for (const QJsonValue& channel : volume) // "-6.02 dB": half the amplitude
        EXPECT_NEAR(channel[QStringLiteral("db")].toString().section(QLatin1Char(' '), 0, 0).toDouble(), -6.02, 0.05);

    player.stop(*tone);
    EXPECT_TRUE(QTest::qWaitFor([&] { return soundsPlaying().isEmpty(); }, kWait));
}

TEST(PulseSoundPlayerTest, ASoundEndsByItselfAndCanPlayAgain)
{
    QTemporaryDir folder;
    PulseSoundPlayer player;
    const auto blip = player.load(makeTone(folder, QStringLiteral("blip.wav"), QStringLiteral("0.2")), 1.0f);
    ASSERT_TRUE(blip);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            player.play(*blip);
            return !soundsPlaying().isEmpty();
        },
        kWait));
    ASSERT_TRUE(QTest::qWaitFor([&] { return soundsPlaying().isEmpty(); }, kWait));
    player.play(*blip);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !soundsPlaying().isEmpty(); }, kWait));
}

} // namespace
