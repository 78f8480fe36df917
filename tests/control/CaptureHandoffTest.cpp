#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

// Blocks of 20 ms, as the sound server hands them over.
const QByteArray kBlock(640, '\x01');

TEST(CaptureHandoffTest, AudioGoesOutInWholeFramesInOrderAndTheRestOnFlush)
{
    auto audio = std::make_shared<AudioStream>();
    CaptureHandoff handoff(
        audio, [](float) {}, [] {});
    for (int i = 0; i < 4; ++i)
        handoff.add(kBlock);
    handoff.deliver();
    EXPECT_FALSE(audio->take()) << "less than a frame waits";
    for (int i = 0; i < 12; ++i)
        handoff.add(QByteArray(640, char('a' + i)));
    EXPECT_FALSE(audio->take()) << "nothing goes out on the capture's thread";
    // Two whole frames waited for the main thread; the flush sends them before the rest.
    handoff.flush();
    EXPECT_EQ(audio->take(), QByteArray(4 * 640, '\x01') + QByteArray(640, 'a'));
    QByteArray second;
    for (char c = 'b'; c <= 'f'; ++c)
        second += QByteArray(640, c);
    EXPECT_EQ(audio->take(), second);
    EXPECT_EQ(audio->take()->left(1), QByteArray("g"));
    EXPECT_EQ(audio->take(), QByteArray(640, 'l'));
    EXPECT_FALSE(audio->take());
    handoff.flush();
    EXPECT_FALSE(audio->take()) << "nothing left, nothing sent";
}

TEST(CaptureHandoffTest, ALevelAndItsFrameWakeTheMainThreadOnceWithTheLevelFirst)
{
    auto audio = std::make_shared<AudioStream>();
    QList<float> shown;
    QList<bool> frameAlreadyOut;
    int wakes = 0;
    CaptureHandoff handoff(
        audio,
        [&](float level) {
            shown << level;
            frameAlreadyOut << bool(audio->take());
        },
        [&] { ++wakes; });
    const auto block = [&handoff](float level) {
        handoff.addLevel(level);
        handoff.add(kBlock);
    };
    // 50 ms of audio brings the third block's level; the frame the fifth's.
    for (const float level : {0.2f, 0.6f, 0.1f})
        block(level);
    EXPECT_EQ(wakes, 1);
    handoff.deliver();
    for (const float level : {0.3f, 0.0f})
        block(level);
    EXPECT_EQ(wakes, 2) << "the frame and its level share one wake-up";
    handoff.deliver();
    EXPECT_EQ(shown, (QList<float>{0.6f, 0.3f}));
    EXPECT_EQ(frameAlreadyOut, (QList<bool>{false, false})) << "a frame leaves after its level";
    EXPECT_EQ(audio->take(), QByteArray(5 * 640, '\x01'));

    // A main thread that falls behind is woken once for all that waits.
    for (int i = 0; i < 15; ++i)
        block(0.1f * float(i % 4));
    EXPECT_EQ(wakes, 3);
    handoff.deliver();
    EXPECT_TRUE(audio->take() && audio->take() && audio->take());

    // Once it stays put, no level goes out until it moves visibly, and a level
    // alone wakes nobody when it stays.
    shown.clear();
    for (const float level : {0.3f, 0.301f, 0.302f, 0.3f, 0.303f})
        block(level);
    handoff.deliver();
    const int before = wakes;
    for (const float level : {0.3f, 0.301f, 0.302f})
        block(level);
    EXPECT_EQ(wakes, before);
    for (const float level : {0.0f, 0.0f})
        block(level);
    handoff.deliver();
    EXPECT_EQ(shown, (QList<float>{0.302f, 0.0f}));
}

} // namespace
