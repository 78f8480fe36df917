#include "support/RawWebSocketServer.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <QtEndian>

namespace {

const QByteArray kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

} // namespace

std::optional<quint16> RawWebSocketServer::Frame::closeCode() const
{
    if (opcode != close || payload.size() < 2)
        return std::nullopt;
    return qFromBigEndian<quint16>(payload.constData());
}

std::optional<QByteArray> RawWebSocketServer::Handshake::header(const QByteArray& name) const
{
    for (const auto& [headerName, value] : headers)
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

RawWebSocketServer::RawWebSocketServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawWebSocketServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl RawWebSocketServer::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_server.serverPort()));
}

QList<RawWebSocketServer::Frame> RawWebSocketServer::framesOf(quint8 opcode) const
{
    QList<Frame> found;
    for (const Frame& frame : m_frames)
        if (frame.opcode == opcode)
            found.append(frame);
    return found;
}

QList<QByteArray> RawWebSocketServer::texts() const
{
    QList<QByteArray> payloads;
    for (const Frame& frame : framesOf(text))
        payloads.append(frame.payload);
    return payloads;
}

bool RawWebSocketServer::hasOpenConnection() const
{
    return m_newest && m_newest->state() == QAbstractSocket::ConnectedState;
}

QByteArray RawWebSocketServer::encodeFrame(quint8 opcode, const QByteArray& payload, bool fin)
{
    QByteArray frame;
    frame.append(char((fin ? 0x80 : 0x00) | (opcode & 0x0F)));
    const quint64 size = quint64(payload.size());
    if (size < 126) {
        frame.append(char(size));
    } else if (size <= 0xFFFF) {
        frame.append(char(126));
        char length[2];
        qToBigEndian<quint16>(quint16(size), length);
        frame.append(length, 2);
    } else {
        frame.append(char(127));
        char length[8];
        qToBigEndian<quint64>(size, length);
        frame.append(length, 8);
    }
    frame.append(payload);
    return frame;
}

void RawWebSocketServer::sendFrame(quint8 opcode, const QByteArray& payload, bool fin)
{
    sendRaw(encodeFrame(opcode, payload, fin));
}

void RawWebSocketServer::sendClose(quint16 code, const QByteArray& reason)
{
    char bytes[2];
    qToBigEndian<quint16>(code, bytes);
    sendFrame(close, QByteArray(bytes, 2) + reason);
}

void RawWebSocketServer::sendRaw(const QByteArray& bytes)
{
    if (m_newest)
        m_newest->write(bytes);
}

void RawWebSocketServer::dropConnection()
{
    if (m_newest)
        m_newest->disconnectFromHost();
}

void RawWebSocketServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_newest = socket;
        m_peers.insert(socket, std::make_shared<Peer>());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_peers.remove(socket);
            socket->deleteLater();
        });
    }
}

void RawWebSocketServer::onReadyRead(QTcpSocket* socket)
{
    const std::shared_ptr<Peer> peer = m_peers.value(socket);
    if (!peer)
        return;
    peer->buffer += socket->readAll();
    if (!peer->upgraded && !readHandshake(socket, *peer))
        return;
    readFrames(socket, *peer);
}

// True once the connection is upgraded and the rest of the buffer holds frames.
bool RawWebSocketServer::readHandshake(QTcpSocket* socket, Peer& peer)
{
    const qsizetype end = peer.buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    Handshake handshake;
    const QList<QByteArray> lines = peer.buffer.left(end).split('\n');
    peer.buffer.remove(0, end + 4);
    handshake.target = lines.value(0).trimmed().split(' ').value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            handshake.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    m_handshakes.append(handshake);

    if (m_refusal) {
        socket->write("HTTP/1.1 " + QByteArray::number(m_refusal->status) + ' ' + m_refusal->reason +
                      "\r\nContent-Length: 0\r\n\r\n");
        if (!m_refusal->holdOpen)
            socket->disconnectFromHost();
        return false;
    }
    const QByteArray accept =
        QCryptographicHash::hash(handshake.header("Sec-WebSocket-Key").value_or(QByteArray()) + kAcceptGuid,
                                 QCryptographicHash::Sha1)
            .toBase64();
    socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: " +
                  accept + "\r\n\r\n");
    peer.upgraded = true;
    return true;
}

void RawWebSocketServer::readFrames(QTcpSocket* socket, Peer& peer)
{
    for (;;) {
        QByteArray& buffer = peer.buffer;
        if (buffer.size() < 2)
            return;
        const auto* bytes = reinterpret_cast<const uchar*>(buffer.constData());
        Frame frame;
        frame.opcode = bytes[0] & 0x0F;
        const bool masked = bytes[1] & 0x80;
        quint64 length = bytes[1] & 0x7F;
        qsizetype offset = 2;
        if (length == 126) {
            if (buffer.size() < 4)
                return;
            length = qFromBigEndian<quint16>(bytes + 2);
            offset = 4;
        } else if (length == 127) {
            if (buffer.size() < 10)
                return;
            length = qFromBigEndian<quint64>(bytes + 2);
            offset = 10;
        }
        const qsizetype maskOffset = offset;
        if (masked)
            offset += 4;
        if (quint64(buffer.size()) < quint64(offset) + length)
            return;
        frame.payload = buffer.mid(offset, qsizetype(length));
        if (masked)
            for (qsizetype i = 0; i < frame.payload.size(); ++i)
                frame.payload[i] = char(frame.payload[i] ^ bytes[maskOffset + i % 4]);
        buffer.remove(0, offset + qsizetype(length));

        m_frames.append(frame);
        if (frame.opcode == ping && m_answersPings)
            socket->write(encodeFrame(pong, frame.payload));
        if (frame.opcode == close) {
            socket->write(encodeFrame(close, frame.payload.left(2)));
            socket->disconnectFromHost();
        }
        if (!m_peers.contains(socket))
            return;
    }
}
