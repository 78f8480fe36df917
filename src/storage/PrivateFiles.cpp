#include "storage/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace PrivateFiles {

QString dataFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Vell");
}

bool ensureFolder(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return false;
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool writeAtomically(const QString& path, const QByteArray& bytes)
{
    return !tryWriteAtomically(path, bytes).has_value();
}

std::optional<WriteError> tryWriteAtomically(const QString& path, const QByteArray& bytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!ensureFolder(folder))
        return WriteError{QStringLiteral("cannot create or restrict the folder ") + folder};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return WriteError{file.errorString()};
    // Restrict before any byte is written, so the content is never readable by others.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return WriteError{reason};
    }
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return WriteError{reason};
    }
    if (!file.commit())
        return WriteError{file.errorString()};
    return std::nullopt;
}

namespace {

WriteError systemError(const char* what)
{
    return WriteError{QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno))};
}

// Moves `temporary` to `path` in one step. Where a file is replaced, the two
// names are exchanged and the old file deleted: a rename over a file makes
// ext4 start writing the new one out at once, a tenth of a millisecond on the
// way to a paste, and the disk is syncToDisk()'s business anyway.
bool putInPlace(const QByteArray& temporary, const QByteArray& path)
{
    struct stat target
    {};
    if (::lstat(path.constData(), &target) == 0 && S_ISREG(target.st_mode) &&
        ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, path.constData(), RENAME_EXCHANGE) == 0) {
        ::unlink(temporary.constData()); // the old file, now under the temporary name
        return true;
    }
    // No file to replace, or a file system that cannot exchange names.
    return ::rename(temporary.constData(), path.constData()) == 0;
}

} // namespace

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

std::optional<WriteError> tryReplace(const QString& path, const QByteArray& bytes)
{
    return Replacement(path).replaceWith(bytes);
}

Replacement::Replacement(const QString& path) : m_path(QFile::encodeName(path))
{
    // mkstemp makes the file 0600, so the content is never readable by others.
    const QByteArray pattern = m_path + ".XXXXXX";
    m_temporary = pattern;
    m_fd = ::mkstemp(m_temporary.data());
    // The folder is made once the file can't be: asking first on every
    // write costs more than the write.
    if (m_fd < 0 && errno == ENOENT) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!ensureFolder(folder)) {
            m_failure = WriteError{QStringLiteral("cannot create or restrict the folder ") + folder};
            m_temporary.clear();
            return;
        }
        m_temporary = pattern;
        m_fd = ::mkstemp(m_temporary.data());
    }
    if (m_fd < 0) {
        m_failure = systemError("cannot create a file beside it");
        m_temporary.clear();
    }
}

Replacement::~Replacement()
{
    drop();
}

Replacement::Replacement(Replacement&& other) noexcept
    : m_path(std::move(other.m_path)), m_temporary(std::exchange(other.m_temporary, {})),
      m_fd(std::exchange(other.m_fd, -1)), m_failure(std::move(other.m_failure))
{}

void Replacement::drop()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_temporary.isEmpty())
        ::unlink(std::exchange(m_temporary, {}).constData());
}

std::optional<WriteError> Replacement::replaceWith(const QByteArray& bytes)
{
    if (m_fd < 0)
        return m_failure.value_or(WriteError{QStringLiteral("the file beside it was used already")});
    std::optional<WriteError> failure =
        writeAll(m_fd, bytes) ? std::nullopt : std::optional(systemError("cannot write"));
    // close() reports what a full disk refused late.
    if (::close(std::exchange(m_fd, -1)) != 0 && !failure)
        failure = systemError("cannot write");
    if (!failure && !putInPlace(m_temporary, m_path))
        failure = systemError("cannot put it in place");
    if (!failure)
        m_temporary.clear();
    drop();
    return failure;
}

bool syncToDisk(const QString& path)
{
    const auto syncOpened = [](const QByteArray& name, int flags) {
        const int fd = ::open(name.constData(), flags | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        return synced;
    };
    return syncOpened(QFile::encodeName(path), O_RDONLY) &&
           syncOpened(QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY);
}

std::optional<QByteArray> read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<QString> moveAside(const QString& path)
{
    const QFileInfo info(path);
    const QString stem = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base =
        info.dir().filePath(stem + QLatin1Char('-') + QString::number(QDateTime::currentSecsSinceEpoch()));
    QString target = base + suffix;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('-') + QString::number(n) + suffix;
    if (!QFile::rename(path, target))
        return std::nullopt;
    return target;
}

namespace {

// 2001-01-01 00:00:00 UTC in milliseconds since 1970.
constexpr qint64 kStoredDateEpochMSecs = 978'307'200'000;
// About 30 million years either way: far inside what a millisecond count and QDateTime hold.
constexpr double kStoredDateLimitSeconds = 1e15;

} // namespace

double toStoredDate(const QDateTime& date)
{
    if (!date.isValid())
        return 0;
    return double(date.toMSecsSinceEpoch() - kStoredDateEpochMSecs) / 1000.0;
}

std::optional<QDateTime> fromStoredDate(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > kStoredDateLimitSeconds)
        return std::nullopt;
    const QDateTime date =
        QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000.0) + kStoredDateEpochMSecs, Qt::UTC);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

void appendJsonNumber(QByteArray& out, double value)
{
    // Fixed notation of the largest double needs 309 digits, the smallest subnormal about 330.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    out.append(buffer, result.ptr - buffer);
}

void appendJsonNumber(QByteArray& out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

} // namespace PrivateFiles
