#include "storage/VellLog.h"

#include "storage/DebugLogFile.h"

#include <QLoggingCategory>

#include <deque>
#include <mutex>

namespace {

// QLoggingCategory keeps the pointer to its name; the names live as long as the process.
const char* persistentName(const char* category)
{
    static std::mutex mutex;
    static std::deque<QByteArray> names;
    std::lock_guard lock(mutex);
    names.push_back(QByteArray("org.brightfold.Vell.") + category);
    return names.back().constData();
}

} // namespace

VellLog::VellLog(const char* category, DebugLogFile* file)
    : m_category(QString::fromLatin1(category)),
      m_system(std::make_shared<QLoggingCategory>(persistentName(category), QtInfoMsg)),
      m_file(file ? file : &DebugLogFile::shared())
{}

void VellLog::debug(const QString& message) const
{
    if (m_system->isDebugEnabled())
        QMessageLogger(nullptr, 0, nullptr, m_system->categoryName()).debug().noquote() << message;
}

void VellLog::info(const QString& message) const
{
    if (m_system->isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, m_system->categoryName()).info().noquote() << message;
    m_file->write(m_category + QStringLiteral(": ") + message);
}

void VellLog::error(const QString& message) const
{
    if (m_system->isCriticalEnabled())
        QMessageLogger(nullptr, 0, nullptr, m_system->categoryName()).critical().noquote() << message;
    m_file->write(m_category + QStringLiteral(": ERROR ") + message);
}

#define VELL_LOG(name)                                                                                                 \
    const VellLog& VellLog::name()                                                                                     \
    {                                                                                                                  \
        static const VellLog log(#name);                                                                               \
        return log;                                                                                                    \
    }
VELL_LOG(app)
VELL_LOG(audio)
VELL_LOG(dictation)
VELL_LOG(history)
VELL_LOG(hotkey)
VELL_LOG(insert)
VELL_LOG(network)
VELL_LOG(usage)
#undef VELL_LOG

// The keyring's category keeps its first name, which users may have in
// QT_LOGGING_RULES.
const VellLog& VellLog::keyring()
{
    static const VellLog log("keychain");
    return log;
}
