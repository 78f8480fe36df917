#include "transcription/StreamingClientSession.h"

#include "transcription/AudioStream.h"

#include <QPointer>
#include <QTimer>

StreamingClientSession::StreamingClientSession(std::shared_ptr<AudioStream> audio,
                                               std::variant<QNetworkRequest, TranscriptionError> request,
                                               WebSocketSessionTimings timings)
    : m_audio(std::move(audio))
{
    if (const auto* refusal = std::get_if<TranscriptionError>(&request)) {
        QTimer::singleShot(0, this, [this, error = *refusal] { finish(error); });
        return;
    }
    m_socket = std::make_unique<WebSocketSession>(std::get<QNetworkRequest>(request), timings);
    connect(m_socket.get(), &WebSocketSession::opened, this, [this] { onOpened(); });
    connect(m_socket.get(), &WebSocketSession::messageReceived, this,
            [this](const QJsonObject& message) { onMessage(message); });
    connect(m_socket.get(), &WebSocketSession::ended, this,
            [this](const std::optional<TranscriptionError>& error) { onSocketEnded(error); });
    connect(m_audio.get(), &AudioStream::readyRead, this, &StreamingClientSession::readAudio);
    QTimer::singleShot(0, this, &StreamingClientSession::readAudio);
}

StreamingClientSession::~StreamingClientSession() = default;

void StreamingClientSession::readAudio()
{
    if (m_finished || m_sentEndOfAudio)
        return;
    const WebSocketSession::Batch together(*m_socket);
    const QList<QByteArray> chunks = m_audio->takeAll();
    for (const QByteArray& chunk : chunks)
        if (const std::optional<QByteArray> batch = m_batcher.add(chunk))
            if (!sent(m_socket->sendData(*batch)))
                return;
    if (!m_audio->atEnd())
        return;
    stopReading();
    m_sentEndOfAudio = true;
    if (const std::optional<QByteArray> last = m_batcher.finish())
        if (!sent(m_socket->sendData(*last)))
            return;
    sendEndOfAudio();
}

bool StreamingClientSession::sendJSON(const QJsonObject& message)
{
    return m_socket && sent(m_socket->sendJSON(message));
}

bool StreamingClientSession::sendText(const QString& text)
{
    return m_socket && sent(m_socket->sendText(text));
}

// The socket ends with the first failure it is given, which is why a refused
// send aborts it rather than finishing here: a close frame already on its way
// in still tells the real cause.
bool StreamingClientSession::sent(const std::optional<TranscriptionError>& failure)
{
    if (!failure)
        return true;
    stopReading();
    m_socket->abort(*failure);
    return false;
}

bool StreamingClientSession::emitEvents(const QList<TranscriptEvent>& events)
{
    const QPointer<StreamingClientSession> alive(this);
    for (const TranscriptEvent& event : events) {
        if (!alive || m_finished)
            return false;
        Q_EMIT eventReceived(event);
    }
    return alive && !m_finished;
}

void StreamingClientSession::finish(const std::optional<TranscriptionError>& error)
{
    if (m_finished)
        return;
    m_finished = true;
    stopReading();
    // The dictation ends first: closing the connection costs a turn of the
    // network stack, which the last words need on their way to the screen.
    const QPointer<StreamingClientSession> self(this);
    Q_EMIT finished(error);
    if (self && m_socket)
        m_socket->close();
}

void StreamingClientSession::stopReading()
{
    disconnect(m_audio.get(), nullptr, this, nullptr);
}
