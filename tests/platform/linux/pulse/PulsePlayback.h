#pragma once

#include <QProcess>
#include <QString>

// paplay playing one file into a sink; killed if still running when it goes.
class PulsePlayback
{
public:
    PulsePlayback(const QString& sink, const QString& file);
    ~PulsePlayback();

    bool waitUntilFinished(int timeoutMs = 20000);

private:
    QProcess m_process;
};
