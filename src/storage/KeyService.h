#pragma once

#include <QList>
#include <QString>

#include <optional>

// A service whose key can be checked; stored by its raw value.
enum class KeyService { assemblyAI, soniox, anthropic };

namespace KeyServices {

inline QList<KeyService> all()
{
    return {KeyService::assemblyAI, KeyService::soniox, KeyService::anthropic};
}

inline QString rawValue(KeyService service)
{
    switch (service) {
    case KeyService::assemblyAI:
        return QStringLiteral("assemblyAI");
    case KeyService::soniox:
        return QStringLiteral("soniox");
    case KeyService::anthropic:
        return QStringLiteral("anthropic");
    }
    return {};
}

inline std::optional<KeyService> fromRawValue(const QString& raw)
{
    for (KeyService service : all())
        if (rawValue(service) == raw)
            return service;
    return std::nullopt;
}

// The service's name in check verdicts.
inline QString displayName(KeyService service)
{
    switch (service) {
    case KeyService::assemblyAI:
        return QStringLiteral("AssemblyAI");
    case KeyService::soniox:
        return QStringLiteral("Soniox");
    case KeyService::anthropic:
        return QStringLiteral("Anthropic");
    }
    return {};
}

} // namespace KeyServices
