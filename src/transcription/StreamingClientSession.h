#pragma once

#include "transcription/AudioBatcher.h"
#include "transcription/StreamingTranscriber.h"
#include "transcription/WebSocketSession.h"

#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>

#include <memory>
#include <optional>
#include <variant>

class AudioStream;

// What the streaming speech clients share: one WebSocket session per
// transcription, the audio read from the stream, batched and sent as binary
// frames (queued by the socket until the upgrade is done), and one ending.
// A subclass reads the service's messages, says how the end of the audio is
// announced, and turns the socket's end into its own.
//
// A request that may not be sent ends the session with its refusal, from the
// event loop. After finish() nothing is read, sent or emitted; destruction
// closes the socket with 1000. Main thread only.
class StreamingClientSession : public TranscriptionSession
{
    Q_OBJECT

public:
    StreamingClientSession(std::shared_ptr<AudioStream> audio,
                           std::variant<QNetworkRequest, TranscriptionError> request, WebSocketSessionTimings timings);
    ~StreamingClientSession() override;

protected:
    virtual void onOpened() {}
    virtual void onMessage(const QJsonObject& message) = 0;
    // Sends what tells the service that no more audio follows.
    virtual void sendEndOfAudio() = 0;
    virtual void onSocketEnded(const std::optional<TranscriptionError>& error) = 0;

    // Sends `message`; on failure aborts the socket with it, whose end follows.
    bool sendJSON(const QJsonObject& message);
    bool sendText(const QString& text);
    // Emits each event in order; false if the session was finished or destroyed meanwhile.
    bool emitEvents(const QList<TranscriptEvent>& events);
    // Ends the session once: closes the socket and emits `finished` as the last thing it does.
    void finish(const std::optional<TranscriptionError>& error);

    // Whether the end of the audio has been announced to the service.
    bool hasSentEndOfAudio() const { return m_sentEndOfAudio; }
    bool isFinished() const { return m_finished; }
    WebSocketSession* socket() const { return m_socket.get(); }

private:
    void readAudio();
    bool sent(const std::optional<TranscriptionError>& failure);
    void stopReading();

    std::shared_ptr<AudioStream> m_audio;
    std::unique_ptr<WebSocketSession> m_socket;
    AudioBatcher m_batcher;
    bool m_sentEndOfAudio = false;
    bool m_finished = false;
};
