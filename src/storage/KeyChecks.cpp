#include "storage/KeyChecks.h"

#include "storage/LoopbackHost.h"
#include "storage/PreferenceValues.h"
#include "storage/SendableKey.h"
#include "storage/UrlFromEnvironment.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>

namespace {

// The one request of each service; scheme, host and port come from `base`.
QNetworkRequest checkRequest(KeyService service, const QUrl& base, const QString& key)
{
    QUrl url;
    url.setScheme(base.scheme());
    url.setHost(base.host());
    url.setPort(base.port());
    const QByteArray keyBytes = key.toUtf8();
    QNetworkRequest request;
    switch (service) {
    case KeyService::assemblyAI:
        url.setPath(QStringLiteral("/v2/transcript"));
        url.setQuery(QStringLiteral("limit=1"));
        request.setRawHeader("authorization", keyBytes);
        break;
    case KeyService::soniox:
        url.setPath(QStringLiteral("/v1/models"));
        request.setRawHeader("Authorization", "Bearer " + keyBytes);
        break;
    case KeyService::anthropic:
        url.setPath(QStringLiteral("/v1/models"));
        url.setQuery(QStringLiteral("limit=1"));
        request.setRawHeader("x-api-key", keyBytes);
        request.setRawHeader("anthropic-version", "2023-06-01");
        break;
    }
    request.setUrl(url);
    // A redirect would carry the key to another host, perhaps without TLS.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

// Why the key must not be sent to `base`; none when it may.
std::optional<QString> refusal(KeyService service, const QUrl& base)
{
    if (!base.isValid() || base.host().isEmpty())
        return QStringLiteral("The key was not sent: the %1 address is not a valid URL.")
            .arg(KeyServices::displayName(service));
    const QString scheme = base.scheme().toLower();
    if (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && isLoopbackHost(base.host())))
        return std::nullopt;
    return QStringLiteral("The key was not sent: %1 is not an HTTPS address.")
        .arg(base.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment));
}

} // namespace

const QString KeyChecks::kRejectedMessage = QStringLiteral("This key was rejected.");
const QString KeyChecks::kTimedOutMessage = QStringLiteral("The request timed out.");

QUrl KeyChecks::Endpoints::base(KeyService service) const
{
    switch (service) {
    case KeyService::assemblyAI:
        return assemblyAI;
    case KeyService::soniox:
        return soniox;
    case KeyService::anthropic:
        return anthropic;
    }
    return {};
}

KeyChecks::Endpoints KeyChecks::Endpoints::defaults()
{
    return {QUrl(QStringLiteral("https://api.assemblyai.com")), QUrl(QStringLiteral("https://api.soniox.com")),
            QUrl(QStringLiteral("https://api.anthropic.com"))};
}

KeyChecks::Endpoints KeyChecks::Endpoints::fromEnvironment()
{
    const Endpoints fallback = defaults();
    return {urlFromEnvironment("VELL_ASSEMBLYAI_API_URL", fallback.assemblyAI),
            urlFromEnvironment("VELL_SONIOX_API_URL", fallback.soniox),
            urlFromEnvironment("VELL_ANTHROPIC_URL", fallback.anthropic)};
}

KeyChecks::KeyChecks(QNetworkAccessManager& network, QSettings& store, Endpoints endpoints,
                     std::chrono::milliseconds timeLimit, QObject* parent)
    : QObject(parent), m_network(network), m_store(store), m_endpoints(std::move(endpoints)), m_timeLimit(timeLimit)
{}

KeyChecks::~KeyChecks()
{
    for (KeyService service : KeyServices::all())
        cancel(service);
}

KeyChecks::State KeyChecks::state(KeyService service, const QString& key) const
{
    const auto found = m_states.constFind(service);
    if (found != m_states.cend())
        return *found;
    if (!key.isEmpty() && verifiedKeys().value(KeyServices::rawValue(service)) == fingerprint(key))
        return State::works();
    return State::unknown();
}

void KeyChecks::check(KeyService service, const QString& key)
{
    // The newest check wins: an older one still running must not overwrite its verdict.
    cancel(service);
    if (key.isEmpty()) {
        setState(service, State::unknown());
        return;
    }
    if (!isSendableKey(key)) {
        setState(service, State::failed(QStringLiteral("The key contains a line break or another control "
                                                       "character. Paste it again as one line.")));
        return;
    }
    const QUrl base = m_endpoints.base(service);
    if (const std::optional<QString> reason = refusal(service, base)) {
        setState(service, State::failed(*reason));
        return;
    }

    setState(service, State::checking());
    QNetworkReply* reply = m_network.get(checkRequest(service, base, key));
    m_running.insert(service, reply);
    connect(reply, &QNetworkReply::finished, this, [this, service, key, reply] { onFinished(service, key, reply); });
    auto* limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this, service, key] {
        conclude(service, key, {Verdict::Kind::inconclusive, kTimedOutMessage});
    });
    limit->start(m_timeLimit);
}

void KeyChecks::forget(KeyService service)
{
    cancel(service);
    if (m_states.remove(service))
        Q_EMIT statesChanged();
}

QString KeyChecks::fingerprint(const QString& key)
{
    const QList<uint> codePoints = key.toUcs4();
    const QList<uint> last = codePoints.mid(qMax<qsizetype>(0, codePoints.size() - 4));
    return QString::number(codePoints.size()) + QLatin1Char(':') +
           QString::fromUcs4(reinterpret_cast<const char32_t*>(last.constData()), last.size());
}

void KeyChecks::onFinished(KeyService service, const QString& key, QNetworkReply* reply)
{
    if (m_running.value(service) != reply)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid() && reply->error() != QNetworkReply::NoError) {
        conclude(service, key, {Verdict::Kind::inconclusive, reply->errorString()});
        return;
    }
    const int status = statusAttribute.toInt();
    if (status >= 200 && status <= 299)
        conclude(service, key, {Verdict::Kind::accepted, {}});
    else if (status == 401 || status == 403)
        conclude(service, key, {Verdict::Kind::rejected, kRejectedMessage});
    else
        conclude(service, key,
                 {Verdict::Kind::inconclusive, KeyServices::displayName(service) + QStringLiteral(" answered ") +
                                                   QString::number(status) + QLatin1Char('.')});
}

void KeyChecks::conclude(KeyService service, const QString& key, const Verdict& verdict)
{
    cancel(service);
    const QString raw = KeyServices::rawValue(service);
    switch (verdict.kind) {
    case Verdict::Kind::accepted: {
        setState(service, State::works());
        QHash<QString, QString> record = verifiedKeys();
        record.insert(raw, fingerprint(key));
        setVerifiedKeys(record);
        break;
    }
    case Verdict::Kind::rejected: {
        setState(service, State::failed(verdict.message));
        QHash<QString, QString> record = verifiedKeys();
        record.remove(raw);
        setVerifiedKeys(record);
        break;
    }
    case Verdict::Kind::inconclusive:
        // A key once verified stays so through a network problem.
        setState(service, State::failed(verdict.message));
        break;
    }
}

void KeyChecks::cancel(KeyService service)
{
    QNetworkReply* reply = m_running.take(service);
    if (!reply)
        return;
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

void KeyChecks::setState(KeyService service, const State& state)
{
    const auto found = m_states.constFind(service);
    if (found != m_states.cend() && *found == state)
        return;
    m_states.insert(service, state);
    Q_EMIT statesChanged();
}

QHash<QString, QString> KeyChecks::verifiedKeys() const
{
    QHash<QString, QString> record;
    const QVariant stored = m_store.value(kVerifiedKeysKey);
    if (stored.typeId() != QMetaType::QVariantMap)
        return record;
    const QVariantMap map = stored.toMap();
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it.value().typeId() == QMetaType::QString)
            record.insert(it.key(), it.value().toString());
    return record;
}

void KeyChecks::setVerifiedKeys(const QHash<QString, QString>& record)
{
    if (record.isEmpty()) {
        PreferenceValues::remove(m_store, kVerifiedKeysKey);
        return;
    }
    QVariantMap map;
    for (auto it = record.begin(); it != record.end(); ++it)
        map.insert(it.key(), it.value());
    PreferenceValues::write(m_store, kVerifiedKeysKey, map);
}
