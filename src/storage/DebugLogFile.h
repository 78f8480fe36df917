#pragma once

#include <QString>

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// The plain-text debug log a user can attach to a support request.
//
// write() may be called from any thread and returns at once: the line is
// stamped on the caller's thread and appended by one writer thread, so lines
// reach the file whole and in call order. The file is rotated to debug.1.log
// once it has grown past kRotateAboveBytes. Failures never reach the caller:
// a folder that cannot be created disables the file, a failed write loses
// only its own line.
class DebugLogFile
{
public:
    static constexpr qint64 kRotateAboveBytes = 1'000'000;

    // The process's log under $XDG_STATE_HOME/Vell (default ~/.local/state/Vell),
    // created on first use.
    static DebugLogFile& shared();

    // A log in `folder`, created if missing; for tests and the shared instance.
    DebugLogFile(const QString& folder, const QString& processName);
    ~DebugLogFile();

    DebugLogFile(const DebugLogFile&) = delete;
    DebugLogFile& operator=(const DebugLogFile&) = delete;

    // Appends "<timestamp> <process> <text>\n"; `text` is already prefixed
    // with its category.
    void write(const QString& text);

    // Blocks until every line queued so far has been handled.
    void flush();

    // The current log file; absent when the folder could not be set up.
    std::optional<QString> path() const { return m_path; }
    QString previousPath() const;

    static QString defaultFolder();

private:
    void run();
    void append(const QByteArray& line);

    std::optional<QString> m_path;
    QString m_process;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<QByteArray> m_lines;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_writer;
    // The writer's open file, kept between lines, and which file it is.
    int m_fd = -1;
    ino_t m_inode = 0;
    dev_t m_device = 0;
};
