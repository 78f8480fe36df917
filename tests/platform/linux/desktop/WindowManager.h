#pragma once

#include <QProcess>

#include <memory>

// The desktop's window manager, for tests that need it gone for a while.
// stop() asks the running openbox to exit; start() runs a new one as a child
// of this process, which ends it by its PID when the suite ends.
class WindowManager
{
public:
    ~WindowManager();

    // Whether a window manager answers on the display now.
    static bool isRunning();
    bool stop();
    bool start();

    static WindowManager* current;

private:
    std::unique_ptr<QProcess> m_started;
};
