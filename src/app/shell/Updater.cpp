#include "app/shell/Updater.h"

#include "app/shell/ProductLinks.h"
#include "storage/VellLog.h"

#include <QDesktopServices>

Updater::Opener Updater::desktopOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

Updater::Updater(Opener opener, QUrl releasePage, QObject* parent)
    : QObject(parent), m_opener(std::move(opener)),
      m_releasePage(releasePage.isEmpty() ? ProductLinks::releases() : std::move(releasePage))
{}

void Updater::checkForUpdates()
{
    if (m_opener(m_releasePage))
        return;
    VellLog::app().error(QStringLiteral("Couldn't open the release page in a browser"));
    Q_EMIT failed(m_releasePage);
}
