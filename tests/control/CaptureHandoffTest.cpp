#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

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

TEST(CaptureHandoffTest, TheLevelGoesOutTwiceAFrameAsTheLoudestSinceTheLastOneAndBeforeItsFrame)
{
    auto audio = std::make_shared<AudioStream>();
    QList<float> posted;
    QList<bool> frameAlreadyOut;
    CaptureHandoff handoff(audio, [&](float level) {
        posted << level;
        frameAlreadyOut << bool(audio->take());
    });
    const auto block = [&handoff](float level) {
        handoff.addLevel(level);
        handoff.add(kBlock);
    };
    // 50 ms of audio brings the third block's level; the frame the fifth's.
    for (const float level : {0.2f, 0.6f, 0.1f, 0.3f, 0.0f})
        block(level);
    EXPECT_EQ(posted, (QList<float>{0.6f, 0.3f}));
    EXPECT_EQ(frameAlreadyOut, (QList<bool>{false, false})) << "a frame leaves after its level, one wake-up for both";
    EXPECT_EQ(audio->take(), QByteArray(5 * 640, '\x01'));

    // Once it stays put, nothing more goes out until it moves visibly.
    posted.clear();
    for (const float level : {0.3f, 0.301f, 0.302f, 0.3f, 0.303f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f})
        block(level);
    EXPECT_EQ(posted, (QList<float>{0.0f}));
}

} // namespace
