#pragma once

#include "text/CleanupModel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <optional>
#include <variant>

class QNetworkAccessManager;

// How long a cleanup may take and how large its answer may grow.
struct TextCleanerLimits
{
    static constexpr std::chrono::milliseconds kTimeLimit{60'000};
    // A cleaned dictation is a few kilobytes; far more means the answer is not one.
    static constexpr qint64 kMaxResponseBytes = 4 * 1024 * 1024;

    std::chrono::milliseconds timeLimit = kTimeLimit; // from sending to the whole answer
    qint64 maxResponseBytes = kMaxResponseBytes;
};

// Turns one raw transcript into the text the speaker meant to type: one POST
// to the Anthropic Messages API with a fixed system prompt and the user's
// dictionary, no retry. clean() ends with exactly one of cleaned() or failed(),
// always from the event loop, never from inside clean(). Destroying the cleaner
// cancels the request and nothing is emitted afterwards; a later clean()
// replaces one still running in the same way. The key travels only over HTTPS,
// or plain HTTP to a loopback address. Logs sizes, statuses and durations, never
// the key or the text. Main thread only; `network` must outlive the cleaner.
class TextCleaner : public QObject
{
    Q_OBJECT

public:
    // A failure reported by the service, or a request this client would not send.
    struct CleanupError
    {
        enum class Kind {
            http,             // the service answered `status`; `message` is its error text or the status phrase
            declined,         // the model refused the text
            truncated,        // the model ran out of output room
            empty,            // no text came back
            insecureEndpoint, // the key would have left over plain HTTP; `message` is the address
            invalidEndpoint,  // the configured address is not a usable URL
            unsendableKey,    // the key holds a control character, which would break the header
            oversized         // the answer grew past the response size limit
        };

        Kind kind = Kind::empty;
        int status = 0;
        QString message;

        static CleanupError http(int status, const QString& message) { return {Kind::http, status, message}; }
        static CleanupError declined() { return {Kind::declined, 0, {}}; }
        static CleanupError truncated() { return {Kind::truncated, 0, {}}; }
        static CleanupError empty() { return {Kind::empty, 0, {}}; }
        static CleanupError insecureEndpoint(const QString& address) { return {Kind::insecureEndpoint, 0, address}; }
        static CleanupError invalidEndpoint() { return {Kind::invalidEndpoint, 0, {}}; }
        static CleanupError unsendableKey() { return {Kind::unsendableKey, 0, {}}; }
        static CleanupError oversized() { return {Kind::oversized, 0, {}}; }

        // The sentence shown to the user.
        QString description() const;

        bool operator==(const CleanupError&) const = default;
    };

    // A failure below HTTP (no connection, refused, dropped, timed out), as the
    // network layer reported it.
    struct TransportError
    {
        QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
        QString message;

        static TransportError timedOut();

        // The network layer's text as a sentence.
        QString description() const;

        bool operator==(const TransportError&) const = default;
    };

    using Failure = std::variant<CleanupError, TransportError>;
    static QString description(const Failure& failure);

    using Limits = TextCleanerLimits;
    static constexpr std::chrono::milliseconds kTimeLimit = Limits::kTimeLimit;
    static constexpr qint64 kMaxResponseBytes = Limits::kMaxResponseBytes;

    static const QString kSystemPrompt;

    // https://api.anthropic.com
    static QUrl defaultEndpoint();
    // VELL_ANTHROPIC_URL (scheme, host and optional port) when set, else the default.
    static QUrl endpointFromEnvironment();

    // `endpoint` gives scheme, host and port; its path is ignored.
    TextCleaner(QNetworkAccessManager& network, const QString& apiKey, CleanupModel model,
                const QStringList& vocabulary, const QUrl& endpoint = endpointFromEnvironment(), Limits limits = {},
                QObject* parent = nullptr);
    ~TextCleaner() override;

    void clean(const QString& transcript);

    // The user turn: the dictionary block (when there are entries) and the transcript.
    static QString userMessage(const QStringList& vocabulary, const QString& transcript);

Q_SIGNALS:
    void cleaned(const QString& text);
    void failed(const TextCleaner::Failure& failure);

private:
    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void succeed(const QString& text);
    void fail(const Failure& failure);
    // Stops the running request, if any, without a word.
    void drop();
    bool exceedsLimit(qint64 bytes) const { return bytes > m_limits.maxResponseBytes; }

    QNetworkAccessManager& m_network;
    QString m_apiKey;
    CleanupModel m_model;
    QStringList m_vocabulary;
    QUrl m_endpoint;
    Limits m_limits;

    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QTimer m_timeLimit;
    QElapsedTimer m_elapsed;
    // A request refused before sending still answers from the event loop.
    QTimer m_refusalTimer;
    std::optional<Failure> m_refusal;
};
