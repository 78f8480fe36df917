#include "transcription/StreamingEndpoint.h"

#include "storage/LoopbackHost.h"
#include "storage/SendableKey.h"

std::variant<QNetworkRequest, TranscriptionError> StreamingEndpoint::request(const QUrl& endpoint, const QString& path,
                                                                             const QByteArray& query,
                                                                             const QString& authorization)
{
    const QString scheme = endpoint.scheme().toLower();
    if (!endpoint.isValid() || endpoint.host().isEmpty() ||
        (scheme != QLatin1String("wss") && scheme != QLatin1String("ws")))
        return TranscriptionError::network(
            QStringLiteral("The address of the transcription service is not a ws:// or wss:// address."));
    if (scheme == QLatin1String("ws") && !isLoopbackHost(endpoint.host()))
        return TranscriptionError::network(
            QStringLiteral("Refusing to send the API key unencrypted to %1; the address must start with wss://.")
                .arg(endpoint.host()));
    if (!isSendableKey(authorization))
        return TranscriptionError::network(
            QStringLiteral("The API key contains a line break or another control character."));

    QUrl url;
    url.setScheme(scheme);
    url.setHost(endpoint.host());
    url.setPort(endpoint.port());
    url.setPath(path);
    if (!query.isEmpty())
        url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", authorization.toUtf8());
    return request;
}
