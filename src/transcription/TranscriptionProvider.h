#pragma once

#include <QList>
#include <QString>

#include <optional>

// The speech service a dictation streams to; stored by its raw value.
enum class TranscriptionProvider { assemblyAI, soniox, mock };

namespace TranscriptionProviders {

// Every provider, in the order pickers list them.
inline QList<TranscriptionProvider> all()
{
    return {TranscriptionProvider::assemblyAI, TranscriptionProvider::soniox, TranscriptionProvider::mock};
}

inline QString rawValue(TranscriptionProvider provider)
{
    switch (provider) {
    case TranscriptionProvider::assemblyAI:
        return QStringLiteral("assemblyAI");
    case TranscriptionProvider::soniox:
        return QStringLiteral("soniox");
    case TranscriptionProvider::mock:
        return QStringLiteral("mock");
    }
    return QStringLiteral("assemblyAI");
}

inline std::optional<TranscriptionProvider> fromRawValue(const QString& raw)
{
    for (TranscriptionProvider provider : all())
        if (rawValue(provider) == raw)
            return provider;
    return std::nullopt;
}

// Shown in pickers and in the missing-key notice.
inline QString title(TranscriptionProvider provider)
{
    switch (provider) {
    case TranscriptionProvider::assemblyAI:
        return QStringLiteral("AssemblyAI (most accurate)");
    case TranscriptionProvider::soniox:
        return QStringLiteral("Soniox (fastest, cheapest)");
    case TranscriptionProvider::mock:
        return QStringLiteral("Demo (no network)");
    }
    return {};
}

} // namespace TranscriptionProviders
