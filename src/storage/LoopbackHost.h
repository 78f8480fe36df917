#pragma once

#include <QHostAddress>
#include <QString>

// Whether `host` is this computer: the only place a key may be sent without
// TLS (local test servers, a local proxy).
inline bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
