#include "support/RawWebSocketServer.h"
#include "support/TranscriptionRun.h"
#include "transcription/AssemblyAITranscriber.h"
#include "transcription/SonioxTranscriber.h"

#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Raw = RawWebSocketServer;

enum class Service { assemblyAI, soniox };

struct BatchingCase
{
    const char* name;
    QList<int> chunkSizes;
    QList<QPair<int, int>> batches; // audio bytes, then zero bytes of padding
};

class StreamingBatching : public ::testing::TestWithParam<std::tuple<Service, BatchingCase>>
{};

TEST_P(StreamingBatching, SendsWholeBatchesThenThePaddedRestThenTheEnd)
{
    const auto& [service, batching] = GetParam();
    Raw server;
    std::unique_ptr<StreamingTranscriber> transcriber;
    QList<QByteArray> expected;
    if (service == Service::assemblyAI)
        transcriber = std::make_unique<AssemblyAITranscriber>(server.url());
    else
        transcriber = std::make_unique<SonioxTranscriber>(server.url());
    TranscriptionRun run(*transcriber, {QStringLiteral("key"), {}, {}});

    // Chunk i is filled with byte i + 1, so the wire shows where every byte came from.
    QByteArray audio;
    for (qsizetype i = 0; i < batching.chunkSizes.size(); ++i) {
        run.push(QByteArray(batching.chunkSizes[i], char(i + 1)));
        audio += QByteArray(batching.chunkSizes[i], char(i + 1));
    }
    run.endAudio();
    qsizetype taken = 0;
    for (const auto& [bytes, padding] : batching.batches) {
        expected.append(audio.mid(taken, bytes) + QByteArray(padding, '\0'));
        taken += bytes;
    }
    ASSERT_EQ(taken, audio.size());
    if (service == Service::assemblyAI)
        expected += {R"({"type":"ForceEndpoint"})", R"({"type":"Terminate"})"};
    else
        expected += {R"({"type":"finalize"})", ""};

    ASSERT_TRUE(QTest::qWaitFor([&] { return server.texts().contains(expected.last()); }));
    QList<Raw::Frame> frames = server.frames();
    if (service == Service::soniox)
        frames.removeFirst(); // the configuration
    QList<QByteArray> sent;
    for (const Raw::Frame& frame : frames) {
        sent.append(frame.payload);
        EXPECT_EQ(frame.opcode, sent.size() <= batching.batches.size() ? Raw::binary : Raw::text);
    }
    EXPECT_EQ(sent, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, StreamingBatching,
    ::testing::Combine(::testing::Values(Service::assemblyAI, Service::soniox),
                       ::testing::Values(BatchingCase{"FourChunksMakeOneBatch", {1000, 1000, 1000, 1000}, {{4000, 0}}},
                                         BatchingCase{"ALargeChunkIsNeverSplit", {5000}, {{5000, 0}}},
                                         BatchingCase{"AShortRestIsPaddedToFiftyMilliseconds",
                                                      {640, 640, 640, 640, 640, 700},
                                                      {{3200, 0}, {700, 900}}},
                                         BatchingCase{"ARestOfFiftyMillisecondsGoesAsItIs", {1600}, {{1600, 0}}},
                                         BatchingCase{"ALongerRestIsNotPadded", {2000}, {{2000, 0}}},
                                         BatchingCase{"NoRestNoLastBatch", {3200}, {{3200, 0}}},
                                         BatchingCase{"NoAudioSendsOnlyTheEnd", {}, {}})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Service::assemblyAI ? "AssemblyAI_" : "Soniox_") +
               std::get<1>(info.param).name;
    });

} // namespace
