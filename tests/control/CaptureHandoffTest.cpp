#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Blocks of 20 ms, as the sound server hands them over.
const QByteArray kBlock(640, '\x01');

TEST(CaptureHandoffTest, AudioGoesOutInWholeFramesAndTheRestOnFlush)
{
    auto audio = std::make_shared<AudioStream>();
    CaptureHandoff handoff(audio, [](float) {});
    for (int i = 0; i < 4; ++i)
        handoff.add(kBlock);
    EXPECT_FALSE(audio->take()) << "less than a frame waits";
    handoff.add(kBlock);
    handoff.add(kBlock);
    handoff.add(kBlock);
    EXPECT_EQ(audio->take(), QByteArray(5 * 640, '\x01'));
    EXPECT_FALSE(audio->take());
    handoff.flush();
    EXPECT_EQ(audio->take(), QByteArray(2 * 640, '\x01'));
    handoff.flush();
    EXPECT_FALSE(audio->take()) << "nothing left, nothing sent";
}

TEST(CaptureHandoffTest, TheLevelIsTheLoudestSinceTheLastOneAtMostEveryFortyMilliseconds)
{
    auto now = std::chrono::steady_clock::time_point(1h);
    QList<float> posted;
    CaptureHandoff handoff(
        std::make_shared<AudioStream>(), [&posted](float level) { posted << level; }, [&now] { return now; });
    handoff.addLevel(0.2f); // the first goes out at once
    for (const float level : {0.1f, 0.6f, 0.3f}) {
        now += 20ms;
        handoff.addLevel(level);
    }
    now += 20ms;
    handoff.addLevel(0.0f);
    EXPECT_EQ(posted, (QList<float>{0.2f, 0.6f, 0.3f}));

    // Once it stays put, nothing more goes out until it moves visibly.
    posted.clear();
    for (const float level : {0.0f, 0.001f, 0.002f, 0.3f, 0.302f, 0.0f}) {
        now += 40ms;
        handoff.addLevel(level);
    }
    EXPECT_EQ(posted, (QList<float>{0.0f, 0.3f, 0.0f}));
}

} // namespace
