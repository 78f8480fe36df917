#pragma once

#include <QByteArray>
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

// The whole file, or none when it is missing or cannot be read.
std::optional<QByteArray> read(const QString& path);

// Renames an unreadable file to "<stem>-<unix seconds>.<suffix>" beside it
// (with a counter if that name is taken), so it is never overwritten blind.
// Returns the new path, or none when the rename failed.
std::optional<QString> moveAside(const QString& path);

} // namespace PrivateFiles
