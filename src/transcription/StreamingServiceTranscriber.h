#pragma once

#include "storage/UrlFromEnvironment.h"
#include "transcription/StreamingTranscriber.h"
#include "transcription/WebSocketSession.h"

#include <QUrl>

#include <memory>

// Where a streaming speech service is reached and how one of its sessions starts.
struct StreamingService
{
    using Open = std::unique_ptr<TranscriptionSession> (*)(std::shared_ptr<AudioStream> audio,
                                                           const TranscriberConfig& config, const QUrl& endpoint,
                                                           WebSocketSessionTimings timings);

    const char* defaultEndpoint;  // scheme and host of the public service
    const char* endpointVariable; // the environment variable that replaces it
    Open open;
};

// Opens `Session`, constructed from the arguments of StreamingService::Open.
template <typename Session>
std::unique_ptr<TranscriptionSession> openSession(std::shared_ptr<AudioStream> audio, const TranscriberConfig& config,
                                                  const QUrl& endpoint, WebSocketSessionTimings timings)
{
    return std::make_unique<Session>(std::move(audio), config, endpoint, timings);
}

// A streaming speech service as a transcriber: each transcribe() is one
// session of `kService` on the endpoint.
template <const StreamingService& kService> class StreamingServiceTranscriber final : public StreamingTranscriber
{
public:
    static QUrl defaultEndpoint() { return QUrl(QString::fromLatin1(kService.defaultEndpoint)); }
    // The service's variable (scheme, host and optional port) when set, else the default.
    static QUrl endpointFromEnvironment() { return urlFromEnvironment(kService.endpointVariable, defaultEndpoint()); }

    // `endpoint` gives scheme, host and port; its path and query are ignored.
    explicit StreamingServiceTranscriber(QUrl endpoint = endpointFromEnvironment(),
                                         WebSocketSessionTimings timings = {})
        : m_endpoint(std::move(endpoint)), m_timings(timings)
    {}

    std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream> audio,
                                                     const TranscriberConfig& config) override
    {
        return kService.open(std::move(audio), config, m_endpoint, m_timings);
    }

private:
    QUrl m_endpoint;
    WebSocketSessionTimings m_timings;
};
