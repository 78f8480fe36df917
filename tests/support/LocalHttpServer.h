#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

#include <optional>

class QTcpSocket;

// A plain HTTP/1.1 server on 127.0.0.1, on a free port, for tests. It records
// every request whole (request line, headers as sent and in order, body by
// Content-Length) and answers each with the next scripted reply: a status with
// headers and body, raw bytes written as they are, or silence (the connection
// is held open until the client or the server goes); then with the fallback,
// silence unless set. Every answer closes its connection. Main thread only.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request
    {
        QByteArray method;
        QByteArray target; // path and query as sent
        QByteArray version;
        QList<Header> headers; // names spelled as sent, in order
        QByteArray body;

        // Every value of that header, names compared ignoring case.
        QList<QByteArray> headerValues(const QByteArray& name) const;
        // The first value of that header.
        std::optional<QByteArray> header(const QByteArray& name) const;
    };

    struct Reply
    {
        enum class Kind { answer, raw, silent };

        Kind kind = Kind::silent;
        int status = 200;
        QByteArray reason = "Scripted";
        // Sent after the status line; a Content-Length here replaces the one
        // the server would add, so a body can be announced longer than it is.
        QList<Header> headers;
        QByteArray bytes; // the body, or everything for `raw`

        static Reply answer(int status, const QByteArray& body = {}, const QList<Header>& headers = {});
        static Reply raw(const QByteArray& bytes);
        static Reply silent() { return {}; }
    };

    explicit LocalHttpServer(QObject* parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    // http://127.0.0.1:<port>
    QUrl url() const;

    void enqueue(const Reply& reply) { m_script.append(reply); }
    // The reply to every request once the script has run out (silence unless set).
    void setFallback(const Reply& reply) { m_fallback = reply; }

    const QList<Request>& requests() const { return m_requests; }
    int openConnections() const { return static_cast<int>(m_buffers.size()); }

Q_SIGNALS:
    void requestReceived();
    void connectionClosed();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void onDisconnected(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    QList<Reply> m_script;
    Reply m_fallback;
    QList<Request> m_requests;
    // Every open connection, with the bytes of its request while that is
    // incomplete; none once the request is whole.
    QHash<QTcpSocket*, std::optional<QByteArray>> m_buffers;
};
