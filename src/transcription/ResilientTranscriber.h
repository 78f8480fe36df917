#pragma once

#include "transcription/StreamingTranscriber.h"

#include <QString>

#include <array>
#include <chrono>
#include <memory>
#include <variant>
#include <vector>

class VellLog;

struct ResilientTranscriberTimings
{
    static constexpr std::chrono::milliseconds kConnectTimeout{6000};
    static constexpr std::array kBackoff{std::chrono::milliseconds{250}, std::chrono::milliseconds{1000},
                                         std::chrono::milliseconds{2000}};

    std::chrono::milliseconds connectTimeout = kConnectTimeout; // for an attempt to report `connected`
    // Before reconnection attempts 1, 2, 3…; its length is the number of
    // reconnections in a row that may fail.
    std::vector<std::chrono::milliseconds> backoff{kBackoff.begin(), kBackoff.end()};
};

// Keeps one dictation going across dropped connections of a network
// transcriber. Each connection attempt is a fresh call of the base with a
// fresh audio stream fed through an AudioRelay: audio captured while no
// attempt listens, and all audio given to an attempt that went away before
// showing any text, is replayed to the next one; once an attempt has shown
// text, what it was given is never sent again. The live text of a dropped
// attempt is passed on as final text, so nothing already shown is lost.
//
// Retries happen only once the dictation has been connected, never for an
// error the service reported, and at most `backoff.size()` times in a row; an
// attempt that produced final text restores the allowance. An attempt that
// has not reported `connected` within `connectTimeout` has failed. An attempt
// that ends normally while the microphone is still running, or without ever
// connecting, has dropped too.
//
// The session passes every event of every attempt on unchanged, adds
// `reconnecting` before each wait, and ends with one TranscriptionError
// naming the service when it gives up. Destroying it cancels the attempt, the
// waits and the relay. Main thread only; `log` must outlive every session.
class ResilientTranscriber final : public StreamingTranscriber
{
public:
    using Timings = ResilientTranscriberTimings;

    // An attempt did not report `connected` in time.
    struct ConnectTimeout
    {};
    // Why one attempt ended early.
    using AttemptFailure = std::variant<TranscriptionError, ConnectTimeout>;

    // `providerName` names the service in messages ("AssemblyAI"); `log`
    // defaults to the network log.
    ResilientTranscriber(std::shared_ptr<StreamingTranscriber> base, QString providerName, Timings timings = {},
                         const VellLog* log = nullptr);

    const StreamingTranscriber& base() const { return *m_base; }
    const QString& providerName() const { return m_providerName; }
    const Timings& timings() const { return m_timings; }

    // The error a dictation ends with when reconnecting stops after `failure`.
    static TranscriptionError giveUpError(const AttemptFailure& failure, bool wasConnected,
                                          const QString& providerName);

    std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream> audio,
                                                     const TranscriberConfig& config) override;

private:
    std::shared_ptr<StreamingTranscriber> m_base;
    QString m_providerName;
    Timings m_timings;
    const VellLog& m_log;
};
