#pragma once

#include <QNetworkInformation>
#include <QObject>

#include <mutex>
#include <optional>

// Whether the machine has a usable path to the internet, kept current from the
// system's network monitor. Unknown until the monitor first answers, and for
// good where there is none; an unknown answer never blocks a dictation.
// satisfied() may be read from any thread.
class NetworkStatus : public QObject
{
    Q_OBJECT

public:
    // The process's instance, created and monitoring on first use (main thread).
    static NetworkStatus& shared();

    // An instance fed only through update(); for tests.
    NetworkStatus() = default;

    std::optional<bool> satisfied() const;
    void update(std::optional<bool> satisfied);

    // Only a machine known to be disconnected is unsatisfied: a connectivity
    // check that finds a captive portal or a local network only ("site",
    // "local") may still reach the service, and a wrong refusal cannot be overridden.
    static std::optional<bool> fromReachability(QNetworkInformation::Reachability reachability);

Q_SIGNALS:
    void satisfiedChanged();

private:
    void startMonitoring();

    mutable std::mutex m_mutex;
    std::optional<bool> m_satisfied;
};
