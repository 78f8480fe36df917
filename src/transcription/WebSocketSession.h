#pragma once

#include "transcription/TranscriptionError.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class QWebSocket;

// How long a WebSocket session waits for the server.
struct WebSocketSessionTimings
{
    static constexpr std::chrono::milliseconds kHandshakeLimit{60'000};
    static constexpr std::chrono::milliseconds kPingDelay{5'000};
    static constexpr std::chrono::milliseconds kPongLimit{5'000};

    std::chrono::milliseconds handshakeLimit = kHandshakeLimit; // from opening to the upgraded connection
    std::chrono::milliseconds pingDelay = kPingDelay;           // from the upgrade, or the last check, to the next ping
    std::chrono::milliseconds pongLimit = kPongLimit;           // for a pong, or any message, to show the server lives
};

// One connection attempt to a streaming speech service: a client WebSocket
// opened at construction from a prepared request (URL and headers), carrying
// JSON objects in text frames and audio in binary frames.
//
// Sends made while the upgrade is under way are queued and go out, in order,
// as soon as it completes. Once upgraded, a ping goes out after every quiet
// `pingDelay`; if neither its pong nor any message arrives within `pongLimit`
// the session aborts with `connectionLost`. Incoming messages are limited to
// 4 MiB.
//
// Signals: `opened` once the upgrade is done and the queue written;
// `messageReceived` for every message (an empty object for one that is not a
// JSON object); then exactly one `ended`, from the event loop: without an error
// when the server closed normally, otherwise with the cause. The first reason
// given to abort() wins over everything seen later. After close() or
// destruction nothing is emitted; destruction closes with 1000.
//
// Never logs what is sent or received, only sizes, codes and durations. Main
// thread only.
class WebSocketSession : public QObject
{
    Q_OBJECT

public:
    using Timings = WebSocketSessionTimings;
    using Clock = std::chrono::steady_clock;

    static constexpr qint64 kMaxIncomingMessageBytes = 4 * 1024 * 1024;

    explicit WebSocketSession(const QNetworkRequest& request, Timings timings = {}, QObject* parent = nullptr);
    ~WebSocketSession() override;

    // Each returns the failure when the frame cannot go out: the session has
    // ended, is closing, or the socket refused it.
    std::optional<TranscriptionError> sendData(const QByteArray& bytes);
    std::optional<TranscriptionError> sendText(const QString& text);
    std::optional<TranscriptionError> sendJSON(const QJsonObject& object);

    // Ends the session with `reason` unless a cause is already known, and
    // closes with 1001 (going away).
    void abort(const TranscriptionError& reason);
    // Closes with 1000 (normal closure); nothing is emitted afterwards.
    void close();

    // Frames sent while one lives leave together, in one write to the
    // system: the other side is woken once rather than once per frame.
    class Batch
    {
    public:
        explicit Batch(WebSocketSession& session) : m_session(&session) { ++session.m_batches; }
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        QPointer<WebSocketSession> m_session;
    };

    // Upgraded, and neither ending nor closing.
    bool isOpen() const { return m_open && !m_ending && !m_closing; }
    // When the last message of any kind arrived; the construction time until then.
    Clock::time_point lastReceivedAt() const { return m_lastReceivedAt; }

Q_SIGNALS:
    void opened();
    void messageReceived(const QJsonObject& message);
    void ended(const std::optional<TranscriptionError>& error);

private:
    enum class KeepalivePhase { quiet, awaitingPong };

    void onConnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onAboutToClose();
    void onDisconnected();
    void onMessage(const QByteArray& bytes);
    void onKeepaliveTimer();
    void onHandshakeTimeout();
    void onEnd();
    std::optional<TranscriptionError> send(const QByteArray& payload, bool binary);
    bool write(const QByteArray& payload, bool binary);
    // The session is over; `ended` follows from the event loop, when every
    // signal of the socket's going away has been seen.
    void settle();
    // Why a connection that went away by itself ended.
    std::optional<TranscriptionError> closingOutcome() const;

    struct Outgoing
    {
        QByteArray payload;
        bool binary = false;
    };

    // Deleted later: the session may be destroyed from inside one of the socket's own signals.
    QWebSocket* m_socket;
    Timings m_timings;
    QElapsedTimer m_age;
    QTimer m_handshakeTimer;
    QTimer m_keepaliveTimer;
    QTimer m_endTimer;
    KeepalivePhase m_keepalivePhase = KeepalivePhase::quiet;
    Clock::time_point m_pingSentAt;
    bool m_pongArrived = false;
    Clock::time_point m_lastReceivedAt;
    QList<Outgoing> m_queue;
    bool m_open = false;
    bool m_ending = false;
    bool m_closing = false;      // close() or abort() was called
    bool m_closed = false;       // close() was called: silence from now on
    bool m_closeFrameIn = false; // the connection is closing without being asked to
    int m_batches = 0;           // Batch objects alive
    std::optional<TranscriptionError> m_abortReason;
    std::optional<QAbstractSocket::SocketError> m_socketError;
    QString m_socketErrorString;
    std::optional<int> m_refusedStatus;
    qint64 m_messagesIn = 0;
    qint64 m_bytesIn = 0;
    qint64 m_bytesOut = 0;
};
