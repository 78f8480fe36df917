#pragma once

#include <QProcess>

// An application started for a test. Many start helpers of their own (a
// launcher script, content processes, a shell), so ending it ends every
// process below it too, each by its process id.
class AppProcess
{
public:
    // Standard output and error go to `log`.
    AppProcess(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
               const QString& log);
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    bool isRunning() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
};
