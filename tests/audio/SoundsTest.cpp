#include "audio/Sounds.h"

#include "platform/SoundPlayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Plays nothing, but keeps track of what would be heard: a sound that is
// playing ignores play() as a real player does.
class RecordingSoundPlayer final : public SoundPlayer
{
public:
    struct Loaded
    {
        QString path;
        float volume = 0;
        bool playing = false;
        int starts = 0;
    };

    std::optional<int> load(const QString& path, float volume) override
    {
        if (!QFile::exists(path))
            return std::nullopt;
        sounds.append({path, volume});
        return int(sounds.size() - 1);
    }
    void play(int sound) override
    {
        Loaded& loaded = sounds[sound];
        if (loaded.playing)
            return;
        loaded.playing = true;
        ++loaded.starts;
    }
    void stop(int sound) override { sounds[sound].playing = false; }

    QList<Loaded> sounds;
};

class SoundsTest : public ::testing::Test
{
protected:
    void writeCue(const QString& name) const
    {
        QFile file(folder.filePath(name + QStringLiteral(".wav")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("RIFF");
    }

    QTemporaryDir folder;
    RecordingSoundPlayer player;
};

TEST_F(SoundsTest, NothingIsLoadedOrPlayedWhileSoundsAreOff)
{
    writeCue(QStringLiteral("DictationStart"));
    Sounds sounds(player, folder.path());
    sounds.play(Sounds::Cue::start, false);
    sounds.play(Sounds::Cue::stop, false);
    EXPECT_TRUE(player.sounds.isEmpty());
}

TEST_F(SoundsTest, AQuickSecondStartRestartsTheCueAtHalfVolume)
{
    writeCue(QStringLiteral("DictationStart"));
    writeCue(QStringLiteral("DictationStop"));
    Sounds sounds(player, folder.path());
    sounds.play(Sounds::Cue::start, true);
    sounds.play(Sounds::Cue::start, true);
    sounds.play(Sounds::Cue::stop, true);

    ASSERT_EQ(player.sounds.size(), 2) << "each file is loaded once";
    EXPECT_EQ(player.sounds[0].path, folder.filePath(QStringLiteral("DictationStart.wav")));
    EXPECT_EQ(player.sounds[0].starts, 2);
    EXPECT_EQ(player.sounds[1].path, folder.filePath(QStringLiteral("DictationStop.wav")));
    EXPECT_EQ(player.sounds[1].starts, 1);
    EXPECT_TRUE(player.sounds[0].playing) << "the cues may overlap";
    for (const auto& loaded : std::as_const(player.sounds))
        EXPECT_EQ(loaded.volume, 0.5f);
}

TEST_F(SoundsTest, AMissingStopFileStillPlaysTheStartCue)
{
    writeCue(QStringLiteral("DictationStart"));
    Sounds sounds(player, folder.path());
    sounds.play(Sounds::Cue::stop, true);
    sounds.play(Sounds::Cue::start, true);
    ASSERT_EQ(player.sounds.size(), 1);
    EXPECT_EQ(player.sounds[0].starts, 1);

    // The table is built once: a file that turns up later is not read.
    writeCue(QStringLiteral("DictationStop"));
    sounds.play(Sounds::Cue::stop, true);
    EXPECT_EQ(player.sounds.size(), 1);
}

} // namespace
