#include "platform/linux/LogindSessionEvents.h"
#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11KeyboardTap.h"
#include "shortcut/HotkeyMonitor.h"
#include "storage/DebugLogFile.h"
#include "storage/VellLog.h"

#include <QCoreApplication>
#include <QMetaEnum>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vell"));
    QCoreApplication::setApplicationName(QStringLiteral("Vell"));

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &application, [](int signalNumber) {
        VellLog::app().info(QStringLiteral("Quitting on signal %1").arg(signalNumber));
        QCoreApplication::quit();
    });

    VellLog::app().info(QStringLiteral("Vell %1 starting").arg(QStringLiteral(VELL_VERSION)));

    PostedKeystrokes postedKeystrokes;
    X11KeyboardTap keyboardTap(postedKeystrokes);
    LogindSessionEvents sessionEvents;
    HotkeyMonitor hotkeyMonitor(keyboardTap, sessionEvents);
    hotkeyMonitor.setOnEvent([](HotkeyMonitor::Event event) {
        VellLog::hotkey().debug(
            QStringLiteral("Shortcut event: ") +
            QString::fromLatin1(QMetaEnum::fromType<HotkeyMonitor::Event>().valueToKey(int(event))));
    });
    hotkeyMonitor.start();

    const int status = QCoreApplication::exec();
    DebugLogFile::shared().flush();
    return status;
}
