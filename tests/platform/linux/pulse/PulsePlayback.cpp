#include "PulsePlayback.h"

#include <QTest>

PulsePlayback::PulsePlayback(const QString& sink, const QString& file)
{
    m_process.start(QStringLiteral("paplay"), {QStringLiteral("-d"), sink, file});
}

PulsePlayback::~PulsePlayback()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool PulsePlayback::waitUntilFinished(int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs) &&
           m_process.exitCode() == 0;
}
