#include "transcription/TranscriptionError.h"

QString TranscriptionError::description() const
{
    switch (kind) {
    case Kind::provider:
    case Kind::network:
        return message;
    case Kind::connectionLost:
        return QStringLiteral("The connection to the transcription service was lost.");
    }
    return message;
}

QString TranscriptionError::kindName() const
{
    switch (kind) {
    case Kind::provider:
        return QStringLiteral("service error");
    case Kind::network:
        return QStringLiteral("network error");
    case Kind::connectionLost:
        return QStringLiteral("connection lost");
    }
    return {};
}
