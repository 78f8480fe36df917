#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// Files that hold what the user said or configured: a folder only the user can
// enter (0700), files only the user can read (0600), every write atomic.
namespace PrivateFiles {

// $XDG_DATA_HOME/Vell (default ~/.local/share/Vell). Not created here.
QString dataFolder();

// Creates `folder` (and its parents) and restricts it to the user.
bool ensureFolder(const QString& folder);

// Replaces `path` with `bytes` in one step, mode 0600, creating the folder as
// above. On failure the old file is untouched and false comes back.
bool writeAtomically(const QString& path, const QByteArray& bytes);

// Why a write failed, in the system's words; for the debug log.
struct WriteError
{
    QString description;
};

// writeAtomically that says why it failed; none on success.
std::optional<WriteError> tryWriteAtomically(const QString& path, const QByteArray& bytes);

// tryWriteAtomically without waiting for the disk: once it returns, the new
// file outlives this process, and it outlives a power cut once syncToDisk()
// has returned for it. For writes on the way to something the user waits for.
std::optional<WriteError> tryReplace(const QString& path, const QByteArray& bytes);

// The file a tryReplace() of `path` writes, made beforehand (mode 0600,
// beside it, creating the folder as above). Once the disk has been idle,
// creating a file takes ext4 a tenth of a millisecond, which a replace on
// the way to a paste should not wait for. Deleted if dropped unused.
class Replacement
{
public:
    explicit Replacement(const QString& path);
    ~Replacement();
    Replacement(Replacement&& other) noexcept;

    // Writes `bytes` and puts the file in the place of `path` in one step;
    // on failure the old file is untouched. Once only.
    std::optional<WriteError> replaceWith(const QByteArray& bytes);

private:
    void drop();

    QByteArray m_path;
    QByteArray m_temporary; // empty once used or dropped
    int m_fd = -1;
    std::optional<WriteError> m_failure; // why the file could not be made
};

// Writes all of `bytes` to the open file `fd`, going on after a partial
// write or a signal. False when the system refused.
bool writeAll(int fd, const QByteArray& bytes);

// Waits until `path` and its name in the folder are on the disk. False when
// the file is gone or the disk refused; safe to call from any thread.
bool syncToDisk(const QString& path);

// The whole file, or none when it is missing or cannot be read.
std::optional<QByteArray> read(const QString& path);

// Renames an unreadable file to "<stem>-<unix seconds>.<suffix>" beside it
// (with a counter if that name is taken), so it is never overwritten blind.
// Returns the new path, or none when the rename failed.
std::optional<QString> moveAside(const QString& path);

// Dates in stored JSON are seconds since 2001-01-01 00:00:00 UTC, kept to the
// millisecond. An invalid date is stored as 0.
double toStoredDate(const QDateTime& date);
// None for a number that is not a representable date.
std::optional<QDateTime> fromStoredDate(double seconds);

// Appends a finite number in the shortest decimal form that reads back
// exactly, without an exponent (JSON has no NaN or infinity: callers filter).
void appendJsonNumber(QByteArray& out, double value);
void appendJsonNumber(QByteArray& out, qint64 value);

} // namespace PrivateFiles
