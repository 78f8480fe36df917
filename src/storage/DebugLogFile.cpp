#include "storage/DebugLogFile.h"

#include "storage/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString processName()
{
#ifdef __GLIBC__
    return QString::fromLocal8Bit(program_invocation_short_name);
#else
    return QStringLiteral("vell");
#endif
}

} // namespace

DebugLogFile& DebugLogFile::shared()
{
    static DebugLogFile instance(defaultFolder(), processName());
    return instance;
}

QString DebugLogFile::defaultFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Vell");
}

DebugLogFile::DebugLogFile(const QString& folder, const QString& processName) : m_process(processName)
{
    // Only the user may read it: it names apps, services and devices.
    if (!folder.isEmpty() && PrivateFiles::ensureFolder(folder) && QFileInfo(folder).isDir()) {
        m_path = QDir(folder).filePath(QStringLiteral("debug.log"));
        for (const QString& path : {*m_path, previousPath()})
            if (QFile::exists(path)) // written by an older version, readable by all
                QFile::setPermissions(path, kOwnerOnly);
    }
    m_writer = std::thread([this] { run(); });
}

DebugLogFile::~DebugLogFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_writer.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString DebugLogFile::previousPath() const
{
    return m_path ? QFileInfo(*m_path).dir().filePath(QStringLiteral("debug.1.log")) : QString();
}

void DebugLogFile::write(const QString& text)
{
    if (!m_path)
        return;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QByteArray line = (stamp + QLatin1Char(' ') + m_process + QLatin1Char(' ') + text).toUtf8();
    line.append('\n');
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_lines.push_back(std::move(line));
    }
    m_wake.notify_one();
}

void DebugLogFile::flush()
{
    std::unique_lock lock(m_mutex);
    m_drained.wait(lock, [this] { return m_lines.empty() && !m_busy; });
}

void DebugLogFile::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_lines.empty(); });
        if (m_lines.empty()) // stopping, and everything is written
            break;
        QByteArray line = std::move(m_lines.front());
        m_lines.pop_front();
        m_busy = true;
        lock.unlock();
        append(line);
        lock.lock();
        m_busy = false;
        if (m_lines.empty())
            m_drained.notify_all();
    }
    m_drained.notify_all();
}

void DebugLogFile::append(const QByteArray& line)
{
    const QByteArray current = QFile::encodeName(*m_path);
    struct stat named
    {};
    bool exists = ::stat(current.constData(), &named) == 0;
    if (exists && named.st_size > kRotateAboveBytes) {
        const QString previous = previousPath();
        QFile::remove(previous);
        QFile::rename(*m_path, previous);
        exists = false;
    }
    // The name decides: another process may have rotated or removed the file.
    if (m_fd >= 0 && (!exists || named.st_ino != m_inode || named.st_dev != m_device))
        ::close(std::exchange(m_fd, -1));
    if (m_fd < 0) {
        m_fd = ::open(current.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        struct stat opened
        {};
        if (m_fd < 0 || ::fstat(m_fd, &opened) != 0)
            return;
        m_inode = opened.st_ino;
        m_device = opened.st_dev;
    }
    PrivateFiles::writeAll(m_fd, line);
}
