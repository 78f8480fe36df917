#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

// A TCP relay on 127.0.0.1, on a free port, between clients and one upstream
// port on the same host, that a test can break: it cuts every open connection
// on demand (both sides aborted), cuts a given connection once a number of
// bytes has passed through it (possibly in the middle of a frame), or holds a
// given connection open while forwarding nothing. Bytes a client sends before
// the upstream side is connected are kept and forwarded in order. Main thread
// only.
class CuttingTcpProxy : public QObject
{
    Q_OBJECT

public:
    explicit CuttingTcpProxy(quint16 upstreamPort, QObject* parent = nullptr);
    ~CuttingTcpProxy() override;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }

    // Aborts every open connection; how many there were.
    int cutAll();
    // The connection accepted as number `index` (from 0) is cut once `bytes`
    // have passed through it, both directions counted; 0 cuts it on arrival.
    void cutConnectionAfter(int index, qint64 bytes);
    // The connection accepted as number `index` forwards nothing, ever.
    void stallConnection(int index);

    int connectionCount() const { return m_accepted; }
    int cutCount() const { return m_cuts; }

private:
    struct Pipe
    {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> upstream;
        QByteArray toUpstream; // from the client, until the upstream side is connected
        qint64 budget = -1;    // bytes left before the cut; -1 for none
        bool stalled = false;
    };

    void onNewConnection();
    void forward(Pipe* pipe, QTcpSocket* from, QTcpSocket* to);
    void flushToUpstream(Pipe* pipe);
    // False when the budget ran out and the connection was cut.
    bool pass(Pipe* pipe, QTcpSocket* to, const QByteArray& bytes);
    void onSideClosed(Pipe* pipe, QTcpSocket* side);
    void cut(Pipe* pipe);
    void close(Pipe* pipe);

    QTcpServer m_server;
    quint16 m_upstreamPort;
    QList<std::shared_ptr<Pipe>> m_pipes;
    QHash<int, qint64> m_budgets;
    QList<int> m_stalls;
    int m_accepted = 0;
    int m_cuts = 0;
};
