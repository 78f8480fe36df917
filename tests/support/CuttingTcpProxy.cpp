#include "support/CuttingTcpProxy.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <utility>

CuttingTcpProxy::CuttingTcpProxy(quint16 upstreamPort, QObject* parent) : QObject(parent), m_upstreamPort(upstreamPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &CuttingTcpProxy::onNewConnection);
}

CuttingTcpProxy::~CuttingTcpProxy()
{
    for (const std::shared_ptr<Pipe>& pipe : std::as_const(m_pipes)) {
        if (pipe->client)
            pipe->client->abort();
        if (pipe->upstream)
            pipe->upstream->abort();
    }
}

bool CuttingTcpProxy::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

int CuttingTcpProxy::cutAll()
{
    const QList<std::shared_ptr<Pipe>> pipes = m_pipes;
    for (const std::shared_ptr<Pipe>& pipe : pipes)
        cut(pipe.get());
    return int(pipes.size());
}

void CuttingTcpProxy::cutConnectionAfter(int index, qint64 bytes)
{
    m_budgets.insert(index, bytes);
}

void CuttingTcpProxy::stallConnection(int index)
{
    m_stalls.append(index);
}

void CuttingTcpProxy::onNewConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        client->setParent(this);
        // Without it, small frames wait for delayed acknowledgements at each hop.
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int index = m_accepted++;
        auto pipe = std::make_shared<Pipe>();
        pipe->client = client;
        pipe->budget = m_budgets.value(index, -1);
        pipe->stalled = m_stalls.contains(index);
        m_pipes.append(pipe);
        if (pipe->budget == 0) {
            cut(pipe.get());
            continue;
        }
        const std::weak_ptr<Pipe> weak = pipe;
        if (pipe->stalled) {
            // Reads nothing and says nothing until cut or left.
            connect(client, &QTcpSocket::disconnected, this, [this, weak] {
                if (const auto p = weak.lock())
                    close(p.get());
            });
            continue;
        }

        auto* upstream = new QTcpSocket(this);
        pipe->upstream = upstream;
        connect(client, &QTcpSocket::readyRead, this, [this, weak] {
            if (const auto p = weak.lock())
                forward(p.get(), p->client, p->upstream);
        });
        connect(upstream, &QTcpSocket::connected, this, [this, weak] {
            if (const auto p = weak.lock())
                flushToUpstream(p.get());
        });
        connect(upstream, &QTcpSocket::readyRead, this, [this, weak] {
            if (const auto p = weak.lock())
                forward(p.get(), p->upstream, p->client);
        });
        for (QTcpSocket* socket : {client, upstream}) {
            connect(socket, &QTcpSocket::disconnected, this, [this, weak, socket] {
                if (const auto p = weak.lock())
                    onSideClosed(p.get(), socket);
            });
            connect(socket, &QTcpSocket::errorOccurred, this, [this, weak, socket] {
                if (const auto p = weak.lock())
                    onSideClosed(p.get(), socket);
            });
        }
        upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
        upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
}

void CuttingTcpProxy::forward(Pipe* pipe, QTcpSocket* from, QTcpSocket* to)
{
    if (!from || !to)
        return;
    if (to == pipe->upstream && to->state() != QAbstractSocket::ConnectedState) {
        pipe->toUpstream.append(from->readAll());
        return;
    }
    pass(pipe, to, from->readAll());
}

void CuttingTcpProxy::flushToUpstream(Pipe* pipe)
{
    if (!pipe->toUpstream.isEmpty())
        pass(pipe, pipe->upstream, std::exchange(pipe->toUpstream, {}));
}

bool CuttingTcpProxy::pass(Pipe* pipe, QTcpSocket* to, const QByteArray& bytes)
{
    if (pipe->budget >= 0 && bytes.size() >= pipe->budget) {
        to->write(bytes.left(pipe->budget));
        to->flush();
        cut(pipe);
        return false;
    }
    if (pipe->budget >= 0)
        pipe->budget -= bytes.size();
    to->write(bytes);
    return true;
}

void CuttingTcpProxy::onSideClosed(Pipe* pipe, QTcpSocket* side)
{
    // What the closing side still had to say goes through first.
    QTcpSocket* other = side == pipe->client ? pipe->upstream.data() : pipe->client.data();
    if (other && other->state() == QAbstractSocket::ConnectedState && side->bytesAvailable() > 0)
        if (!pass(pipe, other, side->readAll()))
            return;
    close(pipe);
}

void CuttingTcpProxy::cut(Pipe* pipe)
{
    ++m_cuts;
    for (QTcpSocket* socket : {pipe->client.data(), pipe->upstream.data()})
        if (socket)
            socket->abort();
    close(pipe);
}

void CuttingTcpProxy::close(Pipe* pipe)
{
    for (QTcpSocket* socket : {pipe->client.data(), pipe->upstream.data()}) {
        if (!socket)
            continue;
        socket->disconnect(this);
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost(); // after writing what is pending
        else
            socket->abort();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
        else
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
    m_pipes.removeIf([pipe](const std::shared_ptr<Pipe>& p) { return p.get() == pipe; });
}
