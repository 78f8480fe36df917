#pragma once

#include <QString>

#include <memory>

class DebugLogFile;
class QLoggingCategory;

// A subsystem's logger. Every message goes to Qt's logging category
// "org.brightfold.Vell.<category>" (stderr or the journal; debug lines only
// when enabled through QT_LOGGING_RULES); info and error lines also go to the
// debug log file. Callable from any thread. Never pass it what the user said
// or typed, nor a key.
class VellLog
{
public:
    // `file` receives the info and error lines; the process's shared debug log
    // when none is given.
    explicit VellLog(const char* category, DebugLogFile* file = nullptr);

    const QString& category() const { return m_category; }

    void debug(const QString& message) const;
    void info(const QString& message) const;
    void error(const QString& message) const;

    // One logger per subsystem.
    static const VellLog& app();
    static const VellLog& audio();
    static const VellLog& dictation();
    static const VellLog& history();
    static const VellLog& hotkey();
    static const VellLog& insert();
    static const VellLog& keyring();
    static const VellLog& network();
    static const VellLog& usage();

private:
    QString m_category;
    std::shared_ptr<QLoggingCategory> m_system;
    DebugLogFile* m_file;
};
