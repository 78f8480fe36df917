#pragma once

#include <QUrl>

// The product's pages on the web.
namespace ProductLinks {

inline QUrl releases()
{
    return QUrl(QStringLiteral("https://vell.brightfold.org/releases"));
}

inline QUrl privacy()
{
    return QUrl(QStringLiteral("https://vell.brightfold.org/privacy"));
}

inline QUrl support()
{
    return QUrl(QStringLiteral("https://vell.brightfold.org/support"));
}

} // namespace ProductLinks
