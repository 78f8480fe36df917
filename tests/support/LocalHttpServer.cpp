#include "support/LocalHttpServer.h"

#include <QTcpSocket>

QList<QByteArray> LocalHttpServer::Request::headerValues(const QByteArray& name) const
{
    QList<QByteArray> values;
    for (const auto& [headerName, value] : headers)
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    return values;
}

std::optional<QByteArray> LocalHttpServer::Request::header(const QByteArray& name) const
{
    const QList<QByteArray> values = headerValues(name);
    return values.isEmpty() ? std::nullopt : std::optional<QByteArray>(values.first());
}

LocalHttpServer::Reply LocalHttpServer::Reply::answer(int status, const QByteArray& body, const QList<Header>& headers)
{
    Reply reply;
    reply.kind = Kind::answer;
    reply.status = status;
    reply.headers = headers;
    reply.bytes = body;
    return reply;
}

LocalHttpServer::Reply LocalHttpServer::Reply::raw(const QByteArray& bytes)
{
    Reply reply;
    reply.kind = Kind::raw;
    reply.bytes = bytes;
    return reply;
}

LocalHttpServer::LocalHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl LocalHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void LocalHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
    }
}

void LocalHttpServer::onReadyRead(QTcpSocket* socket)
{
    const QByteArray arrived = socket->readAll();
    std::optional<QByteArray>& buffer = m_buffers[socket];
    if (!buffer)
        return; // one request per connection
    buffer->append(arrived);

    const qsizetype headEnd = buffer->indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.version = requestLine.value(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].chopped(lines[i].endsWith('\r') ? 1 : 0);
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    const qsizetype bodyLength = request.header("Content-Length").value_or("0").toLongLong();
    const qsizetype bodyStart = headEnd + 4;
    if (buffer->size() - bodyStart < bodyLength)
        return;
    request.body = buffer->mid(bodyStart, bodyLength);
    buffer.reset();

    m_requests.append(request);
    const Reply reply = m_script.isEmpty() ? m_fallback : m_script.takeFirst();
    respond(socket, reply);
    Q_EMIT requestReceived();
}

void LocalHttpServer::onDisconnected(QTcpSocket* socket)
{
    m_buffers.remove(socket);
    socket->deleteLater();
    Q_EMIT connectionClosed();
}

void LocalHttpServer::respond(QTcpSocket* socket, const Reply& reply)
{
    switch (reply.kind) {
    case Reply::Kind::silent:
        return;
    case Reply::Kind::raw:
        socket->write(reply.bytes);
        break;
    case Reply::Kind::answer: {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : reply.headers) {
            hasLength = hasLength || name.compare("Content-Length", Qt::CaseInsensitive) == 0;
            head += name + ": " + value + "\r\n";
        }
        if (!hasLength)
            head += "Content-Length: " + QByteArray::number(reply.bytes.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head + reply.bytes);
        break;
    }
    }
    socket->disconnectFromHost();
}
