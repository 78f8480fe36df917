#pragma once

#include <QProcess>
#include <QString>
#include <QTest>

// Presses `button` ("Share" or "Cancel") in the RemoteDesktop portal's
// consent dialog through AT-SPI (tests/support/portal-dialog.py), trying
// again while the dialog is not up yet. The test's event loop runs
// meanwhile, so a client in this process is served. False when no dialog
// came.
inline bool answerPortalDialog(const QString& script, const QString& button)
{
    for (int attempt = 0; attempt < 30; ++attempt) {
        QProcess answer;
        answer.setProcessChannelMode(QProcess::ForwardedChannels);
        answer.start(QStringLiteral("python3"), {script, button});
        if (QTest::qWaitFor([&] { return answer.state() == QProcess::NotRunning; }, 10000) &&
            answer.exitStatus() == QProcess::NormalExit && answer.exitCode() == 0)
            return true;
        answer.kill();
        answer.waitForFinished(1000);
        QTest::qWait(300);
    }
    return false;
}
