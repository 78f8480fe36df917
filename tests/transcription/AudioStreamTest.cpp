#include "transcription/AudioStream.h"

#include "transcription/NetworkStatus.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

QByteArray chunk(int n)
{
    return QByteArray::number(n);
}

TEST(AudioStream, KeepsTheNewestChunksWhenTheConsumerFallsBehind)
{
    AudioStream stream(3);
    for (int n = 0; n < 5; ++n)
        stream.push(chunk(n));
    EXPECT_EQ(stream.takeAll(), (QList<QByteArray>{chunk(2), chunk(3), chunk(4)}));
    EXPECT_EQ(stream.droppedChunks(), 2);
    EXPECT_EQ(stream.take(), std::nullopt);
}

TEST(AudioStream, EndsOnlyOnceFinishedAndDrained)
{
    AudioStream stream;
    stream.push(chunk(1));
    stream.finish();
    stream.push(chunk(2)); // too late
    EXPECT_TRUE(stream.isFinished());
    EXPECT_FALSE(stream.atEnd());
    EXPECT_EQ(stream.take(), chunk(1));
    EXPECT_TRUE(stream.atEnd());
}

TEST(AudioStream, TellsItsOwnThreadAtOnceAndOtherThreadsOnceFromTheLoop)
{
    AudioStream stream;
    int told = 0;
    QObject::connect(&stream, &AudioStream::readyRead, &stream, [&] {
        if (++told == 1)
            stream.push(chunk(2)); // not told from inside itself
    });
    stream.push(chunk(1));
    EXPECT_EQ(told, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return told == 2; }, 1000));
    stream.takeAll();

    std::thread producer([&stream] {
        for (int n = 0; n < 3; ++n)
            stream.push(chunk(n));
        stream.finish();
    });
    producer.join();
    EXPECT_EQ(told, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return told == 3; }, 1000));
    QTest::qWait(20);
    EXPECT_EQ(told, 3); // one wake-up for everything before it
    EXPECT_EQ(stream.takeAll().size(), 3);
    EXPECT_TRUE(stream.atEnd());
}

TEST(AudioStream, ChunksFromOtherThreadsArriveInOrderOnTheMainThread)
{
    AudioStream stream(100000);
    QList<QByteArray> received;
    QObject::connect(&stream, &AudioStream::readyRead, &stream, [&] { received += stream.takeAll(); });
    std::thread producer([&stream] {
        for (int n = 0; n < 20000; ++n)
            stream.push(chunk(n));
        stream.finish();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return stream.atEnd(); }, 10000));
    producer.join();
    received += stream.takeAll();
    ASSERT_EQ(received.size(), 20000);
    for (int n = 0; n < received.size(); ++n)
        ASSERT_EQ(received[n], chunk(n));
}

TEST(NetworkStatus, StartsUnknownAndSignalsOnlyChanges)
{
    NetworkStatus status;
    QSignalSpy changed(&status, &NetworkStatus::satisfiedChanged);
    EXPECT_EQ(status.satisfied(), std::nullopt);
    status.update(false);
    status.update(false);
    EXPECT_EQ(status.satisfied(), false);
    status.update(true);
    EXPECT_EQ(status.satisfied(), true);
    EXPECT_EQ(changed.count(), 2);
}

TEST(NetworkStatus, OnlyAKnownDisconnectionRefuses)
{
    using Reachability = QNetworkInformation::Reachability;
    EXPECT_EQ(NetworkStatus::fromReachability(Reachability::Disconnected), false);
    EXPECT_EQ(NetworkStatus::fromReachability(Reachability::Unknown), std::nullopt);
    // A captive portal or a failed connectivity check may still reach the service.
    for (Reachability limited : {Reachability::Local, Reachability::Site, Reachability::Online})
        EXPECT_EQ(NetworkStatus::fromReachability(limited), true);
}

} // namespace
