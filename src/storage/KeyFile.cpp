#include "storage/KeyFile.h"

#include "storage/PrivateFiles.h"
#include "storage/VellLog.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

KeyFile::KeyFile(const QString& path, const VellLog& log) : m_path(path), m_log(log) {}

std::optional<QString> KeyFile::entry(const QString& account)
{
    const auto& all = entries();
    const auto found = all.constFind(account);
    if (found == all.cend())
        return std::nullopt;
    return *found;
}

bool KeyFile::put(const QString& account, const QString& key)
{
    QHash<QString, QString> changed = entries();
    changed.insert(account, key);
    if (!writeOut(changed))
        return false;
    m_entries = std::move(changed);
    return true;
}

bool KeyFile::drop(const QString& account)
{
    if (!entries().contains(account))
        return true;
    QHash<QString, QString> changed = entries();
    changed.remove(account);
    if (!writeOut(changed))
        return false;
    m_entries = std::move(changed);
    return true;
}

bool KeyFile::holdsKeys()
{
    for (const QString& key : entries())
        if (!key.isEmpty())
            return true;
    return false;
}

QHash<QString, QString>& KeyFile::entries()
{
    if (m_entries)
        return *m_entries;
    m_entries.emplace();
    if (!QFileInfo::exists(m_path))
        return *m_entries;

    const std::optional<QByteArray> bytes = PrivateFiles::read(m_path);
    const QJsonDocument document = bytes ? QJsonDocument::fromJson(*bytes) : QJsonDocument();
    if (!document.isObject()) {
        // Kept beside, never overwritten blind: it may hold a key the user wants back.
        const std::optional<QString> aside = PrivateFiles::moveAside(m_path);
        m_log.error(aside ? QStringLiteral("The key file could not be read; moved it to ") + *aside
                          : QStringLiteral("The key file could not be read nor moved aside"));
        return *m_entries;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (it.value().isString())
            m_entries->insert(it.key(), it.value().toString());
    return *m_entries;
}

bool KeyFile::writeOut(const QHash<QString, QString>& entries)
{
    if (entries.isEmpty())
        return !QFileInfo::exists(m_path) || QFile::remove(m_path);
    QJsonObject object;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        object.insert(it.key(), it.value());
    return PrivateFiles::writeAtomically(m_path, QJsonDocument(object).toJson(QJsonDocument::Compact));
}
