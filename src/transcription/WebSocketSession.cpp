#include "transcription/WebSocketSession.h"

#include "storage/VellLog.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QWebSocket>

namespace {

const QString kKeyRejected = QStringLiteral("The API key was rejected.");

TranscriptionError notSent()
{
    return TranscriptionError::network(
        QStringLiteral("The connection to the transcription service closed before everything was sent."));
}

TranscriptionError timedOut()
{
    return TranscriptionError::network(QStringLiteral("The request timed out."));
}

TranscriptionError tooLarge()
{
    return TranscriptionError::network(QStringLiteral("The transcription service sent a message larger than 4 MiB."));
}

// Qt's socket error text as a sentence, without the internal "Class::function: " prefix some carry.
QString sentence(QString text)
{
    static const QRegularExpression prefix(QStringLiteral("^\\w+::\\w+:\\s*"));
    text.remove(prefix);
    text = text.trimmed();
    if (text.isEmpty())
        return QStringLiteral("The network connection failed.");
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

// The HTTP status with which a server refused the upgrade: Qt reports it only as text.
std::optional<int> refusedUpgradeStatus(QAbstractSocket::SocketError error, const QString& errorString)
{
    if (error != QAbstractSocket::ConnectionRefusedError)
        return std::nullopt;
    // Qt words it "… status code: %1 (%2)." with the server's reason phrase as %2. The
    // first three-digit number followed by " (" is the status whatever the wording
    // or translation around it, and whatever digits the server puts in its phrase.
    static const QRegularExpression status(QStringLiteral("(?<![0-9])([1-5][0-9][0-9]) \\("));
    const QRegularExpressionMatch match = status.match(errorString);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

// A message as the session passes it on: the JSON object it holds, or an empty object.
QJsonObject parseMessage(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object();
}

} // namespace

WebSocketSession::WebSocketSession(const QNetworkRequest& request, Timings timings, QObject* parent)
    : QObject(parent), m_socket(new QWebSocket), m_timings(timings), m_lastReceivedAt(Clock::now())
{
    m_age.start();
    m_socket->setMaxAllowedIncomingMessageSize(quint64(kMaxIncomingMessageBytes));
    // A single frame is checked before its payload is buffered.
    m_socket->setMaxAllowedIncomingFrameSize(quint64(kMaxIncomingMessageBytes));

    connect(m_socket, &QWebSocket::connected, this, &WebSocketSession::onConnected);
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &WebSocketSession::onSocketError);
    connect(m_socket, &QWebSocket::aboutToClose, this, &WebSocketSession::onAboutToClose);
    connect(m_socket, &QWebSocket::disconnected, this, &WebSocketSession::onDisconnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& message) { onMessage(message.toUtf8()); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &WebSocketSession::onMessage);
    // Every frame is a sign of life, also one of a large message still arriving.
    connect(m_socket, &QWebSocket::textFrameReceived, this, [this] { m_lastReceivedAt = Clock::now(); });
    connect(m_socket, &QWebSocket::binaryFrameReceived, this, [this] { m_lastReceivedAt = Clock::now(); });
    connect(m_socket, &QWebSocket::pong, this, [this] { m_pongArrived = true; });

    // The socket's own transfer timeout does not cover the upgrade.
    m_handshakeTimer.setSingleShot(true);
    connect(&m_handshakeTimer, &QTimer::timeout, this, &WebSocketSession::onHandshakeTimeout);
    m_keepaliveTimer.setSingleShot(true);
    connect(&m_keepaliveTimer, &QTimer::timeout, this, &WebSocketSession::onKeepaliveTimer);
    m_endTimer.setSingleShot(true);
    m_endTimer.setInterval(0);
    connect(&m_endTimer, &QTimer::timeout, this, &WebSocketSession::onEnd);

    m_handshakeTimer.start(m_timings.handshakeLimit);
    m_socket->open(request);
}

WebSocketSession::~WebSocketSession()
{
    disconnect(m_socket, nullptr, this, nullptr);
    if (!m_closed)
        close();
    m_socket->deleteLater();
}

WebSocketSession::Batch::~Batch()
{
    if (m_session && --m_session->m_batches == 0 && !m_session->m_closed)
        m_session->m_socket->flush();
}

std::optional<TranscriptionError> WebSocketSession::sendData(const QByteArray& bytes)
{
    return send(bytes, true);
}

std::optional<TranscriptionError> WebSocketSession::sendText(const QString& text)
{
    return send(text.toUtf8(), false);
}

std::optional<TranscriptionError> WebSocketSession::sendJSON(const QJsonObject& object)
{
    return send(QJsonDocument(object).toJson(QJsonDocument::Compact), false);
}

std::optional<TranscriptionError> WebSocketSession::send(const QByteArray& payload, bool binary)
{
    if (m_ending || m_closing)
        return notSent();
    if (!m_open) {
        m_queue.append({payload, binary});
        return std::nullopt;
    }
    if (!write(payload, binary))
        return notSent();
    return std::nullopt;
}

bool WebSocketSession::write(const QByteArray& payload, bool binary)
{
    const qint64 written =
        binary ? m_socket->sendBinaryMessage(payload) : m_socket->sendTextMessage(QString::fromUtf8(payload));
    if (written != payload.size())
        return false;
    m_bytesOut += written;
    // The socket would otherwise hand it to the system only once the event
    // loop comes round, after whatever the stop of a dictation does next.
    if (m_batches == 0)
        m_socket->flush();
    return true;
}

void WebSocketSession::abort(const TranscriptionError& reason)
{
    if (m_closed)
        return;
    if (!m_ending) {
        m_abortReason = reason;
        settle();
    }
    m_closing = true;
    m_keepaliveTimer.stop();
    m_handshakeTimer.stop();
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    else if (m_socket->state() != QAbstractSocket::ClosingState)
        m_socket->abort();
}

void WebSocketSession::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_closing = true;
    m_handshakeTimer.stop();
    m_keepaliveTimer.stop();
    m_endTimer.stop();
    m_queue.clear();
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close(QWebSocketProtocol::CloseCodeNormal);
    else if (m_socket->state() != QAbstractSocket::ClosingState)
        m_socket->abort();
}

void WebSocketSession::onConnected()
{
    if (m_ending || m_closing)
        return;
    m_open = true;
    m_handshakeTimer.stop();
    VellLog::network().info(QStringLiteral("WebSocket open after %1 ms").arg(m_age.elapsed()));
    const QList<Outgoing> queue = std::exchange(m_queue, {});
    {
        const Batch together(*this);
        for (const Outgoing& outgoing : queue) {
            if (!write(outgoing.payload, outgoing.binary)) {
                abort(notSent());
                return;
            }
        }
    }
    m_keepalivePhase = KeepalivePhase::quiet;
    m_keepaliveTimer.start(m_timings.pingDelay);
    Q_EMIT opened();
}

void WebSocketSession::onSocketError(QAbstractSocket::SocketError error)
{
    if (!m_socketError) {
        m_socketError = error;
        m_socketErrorString = m_socket->errorString();
        if (!m_open)
            m_refusedStatus = refusedUpgradeStatus(error, m_socketErrorString);
    }
    settle();
}

// Emitted for every close, ours or not; one we did not ask for means a close
// frame came in, or the socket closed itself on a broken rule such as the size limit.
void WebSocketSession::onAboutToClose()
{
    if (m_closing)
        return;
    m_closeFrameIn = true;
    settle();
}

void WebSocketSession::onDisconnected()
{
    settle();
}

void WebSocketSession::onMessage(const QByteArray& bytes)
{
    m_lastReceivedAt = Clock::now();
    if (m_ending || m_closing)
        return;
    ++m_messagesIn;
    m_bytesIn += bytes.size();
    Q_EMIT messageReceived(parseMessage(bytes));
}

void WebSocketSession::onKeepaliveTimer()
{
    if (!isOpen() || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (m_keepalivePhase == KeepalivePhase::quiet) {
        m_pingSentAt = Clock::now();
        m_pongArrived = false;
        m_socket->ping();
        m_keepalivePhase = KeepalivePhase::awaitingPong;
        m_keepaliveTimer.start(m_timings.pongLimit);
        return;
    }
    if (!m_pongArrived && m_lastReceivedAt <= m_pingSentAt) {
        const auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_lastReceivedAt);
        VellLog::network().info(
            QStringLiteral("WebSocket silent for %1 ms and no pong; giving up on it").arg(silence.count()));
        abort(TranscriptionError::connectionLost());
        return;
    }
    m_keepalivePhase = KeepalivePhase::quiet;
    m_keepaliveTimer.start(m_timings.pingDelay);
}

void WebSocketSession::onHandshakeTimeout()
{
    VellLog::network().info(QStringLiteral("WebSocket upgrade not done after %1 ms").arg(m_age.elapsed()));
    abort(timedOut());
}

void WebSocketSession::settle()
{
    if (m_ending)
        return;
    m_ending = true;
    m_handshakeTimer.stop();
    m_keepaliveTimer.stop();
    m_queue.clear();
    m_endTimer.start();
}

void WebSocketSession::onEnd()
{
    if (m_closed)
        return;
    const std::optional<TranscriptionError> outcome = m_abortReason ? m_abortReason : closingOutcome();
    // A server that refuses the upgrade but keeps the connection open would leave the socket connecting for good.
    if (m_socket->state() == QAbstractSocket::ConnectingState ||
        m_socket->state() == QAbstractSocket::HostLookupState) {
        m_closing = true;
        m_socket->abort();
    }
    VellLog::network().info(QStringLiteral("WebSocket ended after %1 ms: close code %2, socket error %3, HTTP status "
                                           "%4, %5 messages (%6 bytes) in, %7 bytes out, %8")
                                .arg(m_age.elapsed())
                                .arg(int(m_socket->closeCode()))
                                .arg(m_socketError ? int(*m_socketError) : -1)
                                .arg(m_refusedStatus.value_or(0))
                                .arg(m_messagesIn)
                                .arg(m_bytesIn)
                                .arg(m_bytesOut)
                                .arg(outcome ? QStringLiteral("failed") : QStringLiteral("normally")));
    Q_EMIT ended(outcome);
}

std::optional<TranscriptionError> WebSocketSession::closingOutcome() const
{
    if (m_closeFrameIn) {
        const QWebSocketProtocol::CloseCode code = m_socket->closeCode();
        if (code == QWebSocketProtocol::CloseCodeTooMuchData)
            return tooLarge();
        if (code == QWebSocketProtocol::CloseCodeNormal)
            return std::nullopt;
        if (!m_socket->closeReason().isEmpty())
            return TranscriptionError::provider(m_socket->closeReason());
        return TranscriptionError::network(
            QStringLiteral("The transcription service closed the connection (code %1).").arg(int(code)));
    }
    // Without a close frame the close code reads 1000 even when the connection just dropped.
    if (m_refusedStatus == 401 || m_refusedStatus == 403)
        return TranscriptionError::provider(kKeyRejected);
    if (m_refusedStatus)
        return TranscriptionError::network(
            QStringLiteral("The transcription service refused the connection (HTTP status %1).").arg(*m_refusedStatus));
    if (m_socketError)
        return TranscriptionError::network(sentence(m_socketErrorString));
    return TranscriptionError::connectionLost();
}
