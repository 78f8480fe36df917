#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>

#include <memory>
#include <optional>

class QTcpSocket;

// A WebSocket server on 127.0.0.1, on a free port, written on a plain
// QTcpServer so that a test controls every byte: it records each upgrade
// request as sent, accepts it or refuses it with a scripted HTTP status
// (closing the connection or holding it open), records every frame clients
// send (unmasked), answers pings only when told to, echoes close frames, and
// sends frames or raw bytes on the newest connection. Main thread only.
class RawWebSocketServer : public QObject
{
    Q_OBJECT

public:
    enum Opcode : quint8 { continuation = 0x0, text = 0x1, binary = 0x2, close = 0x8, ping = 0x9, pong = 0xA };

    struct Frame
    {
        quint8 opcode = text;
        QByteArray payload;

        // The close code of a close frame, if it carries one.
        std::optional<quint16> closeCode() const;
    };

    struct Handshake
    {
        QByteArray target; // path and query as sent
        QList<QPair<QByteArray, QByteArray>> headers;

        // The first value of that header, names compared ignoring case.
        std::optional<QByteArray> header(const QByteArray& name) const;
    };

    struct Refusal
    {
        int status = 401;
        QByteArray reason = "Unauthorized";
        bool holdOpen = false; // keep the connection open after the answer
    };

    explicit RawWebSocketServer(QObject* parent = nullptr);

    // ws://127.0.0.1:<port>
    QUrl url() const;

    // Every upgrade from now on is refused so, or accepted again with none.
    void setRefusal(std::optional<Refusal> refusal) { m_refusal = refusal; }
    void setAnswersPings(bool answers) { m_answersPings = answers; }

    const QList<Handshake>& handshakes() const { return m_handshakes; }
    // Every frame of every connection, in arrival order.
    const QList<Frame>& frames() const { return m_frames; }
    QList<Frame> framesOf(quint8 opcode) const;
    QList<QByteArray> texts() const;
    bool hasOpenConnection() const;
    int openConnections() const { return int(m_peers.size()); }

    // On the newest connection.
    void sendFrame(quint8 opcode, const QByteArray& payload, bool fin = true);
    void sendText(const QByteArray& utf8) { sendFrame(text, utf8); }
    void sendClose(quint16 code, const QByteArray& reason = {});
    void sendRaw(const QByteArray& bytes);
    // Closes the TCP connection, after what was written, without a close frame.
    void dropConnection();

    static QByteArray encodeFrame(quint8 opcode, const QByteArray& payload, bool fin = true);

private:
    struct Peer
    {
        QByteArray buffer;
        bool upgraded = false;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    bool readHandshake(QTcpSocket* socket, Peer& peer);
    void readFrames(QTcpSocket* socket, Peer& peer);

    QTcpServer m_server;
    QHash<QTcpSocket*, std::shared_ptr<Peer>> m_peers;
    std::optional<Refusal> m_refusal;
    bool m_answersPings = false;
    QList<Handshake> m_handshakes;
    QList<Frame> m_frames;
    QPointer<QTcpSocket> m_newest;
};
