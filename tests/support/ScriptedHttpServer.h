#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

#include <optional>

class QTcpSocket;

// A plain HTTP/1.1 server on 127.0.0.1, on a free port, answering each
// request with the next scripted response (then closing the connection). A
// request with no response scripted, or with a silent one, is held open
// unanswered until answerHeld().
class ScriptedHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        std::optional<int> status; // none: stay silent
        QByteArray extraHeaders;   // whole lines, each ending in "\r\n"
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;                            // path and query as sent
        QList<QPair<QByteArray, QByteArray>> headers; // names exactly as sent

        // The value of the first header of that name, compared ignoring case.
        std::optional<QByteArray> header(const QByteArray& name) const;
        // Whether a header arrived with exactly this spelling of its name.
        bool hasHeaderSpelled(const QByteArray& name) const;
    };

    explicit ScriptedHttpServer(QObject* parent = nullptr);

    // http://127.0.0.1:<port>
    QUrl url() const;

    void script(Response response) { m_script.append(response); }
    void answerWith(int status) { script({status, {}}); }
    void staySilent() { script({std::nullopt, {}}); }

    // Answers the oldest request still held.
    void answerHeld(int status);

    const QList<Request>& requests() const { return m_requests; }

Q_SIGNALS:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    static void respond(QTcpSocket* socket, int status, const QByteArray& extraHeaders);

    QTcpServer m_server;
    QList<Response> m_script;
    QList<Request> m_requests;
    QList<QTcpSocket*> m_held;
};
