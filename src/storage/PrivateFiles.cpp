#include "storage/PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

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

// Writes all of `bytes`, going on after a partial write or a signal.
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

} // namespace

std::optional<WriteError> tryReplace(const QString& path, const QByteArray& bytes)
{
    // mkstemp makes the file 0600, so the content is never readable by others.
    const QByteArray pattern = QFile::encodeName(path) + ".XXXXXX";
    QByteArray temporary = pattern;
    int fd = ::mkstemp(temporary.data());
    // The folder is made once the file can't be: asking first on every
    // write costs more than the write.
    if (fd < 0 && errno == ENOENT) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!ensureFolder(folder))
            return WriteError{QStringLiteral("cannot create or restrict the folder ") + folder};
        temporary = pattern;
        fd = ::mkstemp(temporary.data());
    }
    if (fd < 0)
        return systemError("cannot create a file beside it");
    std::optional<WriteError> failure = writeAll(fd, bytes) ? std::nullopt : std::optional(systemError("cannot write"));
    // close() reports what a full disk refused late.
    if (::close(fd) != 0 && !failure)
        failure = systemError("cannot write");
    if (!failure && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        failure = systemError("cannot put it in place");
    if (failure)
        ::unlink(temporary.constData());
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
