#pragma once

#include "storage/KeyService.h"

#include <QUrl>

// Where each service hands out API keys.
namespace WebLinks {

inline QUrl keyPage(KeyService service)
{
    switch (service) {
    case KeyService::assemblyAI:
        return QUrl(QStringLiteral("https://www.assemblyai.com/app/api-keys"));
    case KeyService::soniox:
        return QUrl(QStringLiteral("https://console.soniox.com/"));
    case KeyService::anthropic:
        return QUrl(QStringLiteral("https://console.anthropic.com/settings/keys"));
    }
    return {};
}

} // namespace WebLinks
