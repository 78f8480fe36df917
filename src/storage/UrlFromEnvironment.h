#pragma once

#include <QString>
#include <QUrl>

// The URL in the environment variable `variable` when it is set, else
// `fallback`; how tests and local proxies redirect a service.
inline QUrl urlFromEnvironment(const char* variable, const QUrl& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? fallback : QUrl(value, QUrl::StrictMode);
}
