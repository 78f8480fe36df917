#include "support/ScriptedHttpServer.h"

#include <QTcpSocket>

std::optional<QByteArray> ScriptedHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [headerName, value] : headers)
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

bool ScriptedHttpServer::Request::hasHeaderSpelled(const QByteArray& name) const
{
    for (const auto& header : headers)
        if (header.first == name)
            return true;
    return false;
}

ScriptedHttpServer::ScriptedHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedHttpServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl ScriptedHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void ScriptedHttpServer::answerHeld(int status)
{
    if (m_held.isEmpty())
        return;
    respond(m_held.takeFirst(), status, {});
}

void ScriptedHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    }
}

void ScriptedHttpServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", QByteArray());

    Request request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    m_requests.append(request);

    const Response response = m_script.isEmpty() ? Response{} : m_script.takeFirst();
    if (response.status)
        respond(socket, *response.status, response.extraHeaders);
    else
        m_held.append(socket);
    Q_EMIT requestReceived();
}

void ScriptedHttpServer::respond(QTcpSocket* socket, int status, const QByteArray& extraHeaders)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\nContent-Length: 0\r\nConnection: close\r\n" +
                  extraHeaders + "\r\n");
    socket->disconnectFromHost();
}
