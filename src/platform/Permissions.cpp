#include "platform/Permissions.h"

#include "platform/KeyboardTap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

Permissions::Permissions(KeyboardTap& tap, MicrophonePermission& microphone, std::chrono::milliseconds pollInterval,
                         QObject* parent)
    : QObject(parent), m_tap(tap), m_microphonePort(microphone)
{
    m_poll.setInterval(pollInterval);
    connect(&m_poll, &QTimer::timeout, this, &Permissions::refresh);
    m_keyboardAccess = m_tap.hasKeyboardAccess();
    m_microphoneStatus = m_microphonePort.status();
    m_microphone = m_microphoneStatus == MicrophonePermission::Status::granted;
}

void Permissions::refresh()
{
    m_microphoneStatus = m_microphonePort.status();
    const bool keyboardAccess = m_tap.hasKeyboardAccess();
    const bool microphone = m_microphoneStatus == MicrophonePermission::Status::granted;
    if (keyboardAccess != m_keyboardAccess) {
        m_keyboardAccess = keyboardAccess;
        Q_EMIT keyboardAccessChanged(keyboardAccess);
    }
    if (microphone != m_microphone) {
        m_microphone = microphone;
        Q_EMIT microphoneChanged(microphone);
    }
}

void Permissions::requestMicrophone()
{
    m_microphonePort.request();
    refresh();
}

void Permissions::recheckKeyboardAccess()
{
    refresh();
}

void Permissions::setPolling(bool polling)
{
    if (polling == m_poll.isActive())
        return;
    if (polling) {
        refresh();
        m_poll.start();
    } else {
        m_poll.stop();
    }
}

QString Permissions::autostartPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/vell.desktop");
}

bool Permissions::launchesAtLogin()
{
    QFile file(autostartPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Desktops switch an entry off in place rather than deleting it.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed == "Hidden=true" || trimmed == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

QByteArray Permissions::autostartEntry(const QString& program)
{
    // Quoted as an Exec argument, then escaped as a desktop entry string.
    QString argument;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            argument += u'\\';
        argument += c;
    }
    QString exec = u'"' + argument + u'"';
    exec.replace(u'\\', QStringLiteral("\\\\"));
    exec.replace(u'\n', QStringLiteral("\\n"));
    exec.replace(u'%', QStringLiteral("%%"));

    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Vell\n"
                             "Comment=Dictation at the cursor\n"
                             "Exec=") +
           exec.toUtf8() +
           QByteArrayLiteral("\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n");
}

bool Permissions::setLaunchAtLogin(bool on, const VellLog& log)
{
    const QString path = autostartPath();
    if (!on) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        log.error(QStringLiteral("launch at login: ") + file.errorString());
        return false;
    }

    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        log.error(QStringLiteral("launch at login: cannot create ") + QFileInfo(path).absolutePath());
        return false;
    }
    // An AppImage runs from a mount that is gone after logout; start the image itself.
    const QString program = qEnvironmentVariableIsSet("APPIMAGE") ? qEnvironmentVariable("APPIMAGE")
                                                                  : QCoreApplication::applicationFilePath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(autostartEntry(program)) < 0 || !file.commit()) {
        log.error(QStringLiteral("launch at login: ") + file.errorString());
        return false;
    }
    return true;
}
