#include "transcription/NetworkStatus.h"

#include "storage/VellLog.h"

#include <QNetworkInformation>

NetworkStatus& NetworkStatus::shared()
{
    static NetworkStatus* instance = [] {
        auto* status = new NetworkStatus; // lives as long as the process
        status->startMonitoring();
        return status;
    }();
    return *instance;
}

void NetworkStatus::startMonitoring()
{
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        VellLog::network().info(QStringLiteral("No network monitor available; reachability stays unknown"));
        return;
    }
    QNetworkInformation* information = QNetworkInformation::instance();
    VellLog::network().info(QStringLiteral("Network monitor: ") + information->backendName());
    auto apply = [this](QNetworkInformation::Reachability reachability) { update(fromReachability(reachability)); };
    connect(information, &QNetworkInformation::reachabilityChanged, this, apply);
    apply(information->reachability());
}

std::optional<bool> NetworkStatus::fromReachability(QNetworkInformation::Reachability reachability)
{
    switch (reachability) {
    case QNetworkInformation::Reachability::Unknown:
        return std::nullopt;
    case QNetworkInformation::Reachability::Disconnected:
        return false;
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Site:
    case QNetworkInformation::Reachability::Online:
        return true;
    }
    return std::nullopt;
}

std::optional<bool> NetworkStatus::satisfied() const
{
    std::lock_guard lock(m_mutex);
    return m_satisfied;
}

void NetworkStatus::update(std::optional<bool> satisfied)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_satisfied == satisfied)
            return;
        m_satisfied = satisfied;
    }
    VellLog::network().info(
        satisfied ? (*satisfied ? QStringLiteral("Network path usable") : QStringLiteral("Network path unusable"))
                  : QStringLiteral("Network path unknown"));
    Q_EMIT satisfiedChanged();
}
