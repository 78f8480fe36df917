#pragma once

#include "storage/KeyService.h"

#include <QHash>
#include <QObject>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

// Tells whether each service's key works: one cheap authenticated GET per
// check, answered with a verdict in `states`. An accepted key's fingerprint
// (its length and last four characters) is remembered in the preference
// store under "verifiedKeys", so it shows as working after a restart without
// a new request. Only the newest check of a service counts: starting one
// drops any older one still running. A key is sent only over HTTPS, or plain
// HTTP to this computer. Main thread only; statesChanged() fires on every
// change of `states`.
class KeyChecks : public QObject
{
    Q_OBJECT
    Q_PROPERTY(States states READ states NOTIFY statesChanged)

public:
    class State
    {
    public:
        enum class Kind { failed, unknown, checking, works };

        State() = default; // unknown

        static State failed(const QString& message) { return State(Kind::failed, message); }
        static State unknown() { return State(Kind::unknown); }
        static State checking() { return State(Kind::checking); }
        static State works() { return State(Kind::works); }

        Kind kind() const { return m_kind; }
        // What to show, for `failed`; empty otherwise.
        const QString& message() const { return m_message; }

        bool operator==(const State&) const = default;

    private:
        explicit State(Kind kind, const QString& message = {}) : m_kind(kind), m_message(message) {}

        Kind m_kind = Kind::unknown;
        QString m_message;
    };
    using States = QHash<KeyService, State>;

    // Scheme, host and optional port of each service's API.
    struct Endpoints
    {
        QUrl assemblyAI;
        QUrl soniox;
        QUrl anthropic;

        QUrl base(KeyService service) const;

        // The services' public API hosts.
        static Endpoints defaults();
        // The defaults, each replaced by VELL_ASSEMBLYAI_API_URL,
        // VELL_SONIOX_API_URL or VELL_ANTHROPIC_URL when that is set.
        static Endpoints fromEnvironment();
    };

    static constexpr std::chrono::milliseconds kTimeLimit{10'000};

    static const QString kRejectedMessage;
    static const QString kTimedOutMessage;
    static constexpr QLatin1String kVerifiedKeysKey{"verifiedKeys"};

    // `network` and `store` must outlive the checks.
    KeyChecks(QNetworkAccessManager& network, QSettings& store, Endpoints endpoints = Endpoints::fromEnvironment(),
              std::chrono::milliseconds timeLimit = kTimeLimit, QObject* parent = nullptr);
    // Drops every check still running.
    ~KeyChecks() override;

    const States& states() const { return m_states; }

    // The verdict to show next to `key`: this run's, else `works` when the
    // remembered fingerprint matches a non-empty key, else `unknown`.
    State state(KeyService service, const QString& key) const;
    // Asynchronous; the verdict arrives through statesChanged().
    void check(KeyService service, const QString& key);
    // Drops this run's verdict (and a check still running), so `state` falls
    // back to the remembered one.
    void forget(KeyService service);

    // "<length>:<last four characters>", counted in code points.
    static QString fingerprint(const QString& key);

Q_SIGNALS:
    void statesChanged();

private:
    struct Verdict
    {
        enum class Kind { accepted, rejected, inconclusive };
        Kind kind;
        QString message;
    };

    void onFinished(KeyService service, const QString& key, QNetworkReply* reply);
    void conclude(KeyService service, const QString& key, const Verdict& verdict);
    void cancel(KeyService service);
    void setState(KeyService service, const State& state);
    QHash<QString, QString> verifiedKeys() const;
    void setVerifiedKeys(const QHash<QString, QString>& record);

    QNetworkAccessManager& m_network;
    QSettings& m_store;
    Endpoints m_endpoints;
    std::chrono::milliseconds m_timeLimit;
    States m_states;
    QHash<KeyService, QNetworkReply*> m_running;
};
