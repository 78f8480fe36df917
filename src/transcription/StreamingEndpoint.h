#pragma once

#include "transcription/TranscriptionError.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <variant>

// Where a streaming speech service is reached: a scheme, host and optional
// port, to which each client adds its own path and query. A key goes only over
// wss://, or plain ws:// to a loopback address.
namespace StreamingEndpoint {

// The upgrade request for `path` and `query` (already percent-encoded) on
// `endpoint`, carrying `authorization`; or why it must not be sent.
std::variant<QNetworkRequest, TranscriptionError> request(const QUrl& endpoint, const QString& path,
                                                          const QByteArray& query, const QString& authorization);

} // namespace StreamingEndpoint
