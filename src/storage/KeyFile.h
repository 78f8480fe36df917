#pragma once

#include <QHash>
#include <QString>

#include <optional>

class VellLog;

// The private file that holds what the credential store could not take: keys
// saved while no store answered or it refused, and removals it has not
// carried out yet (kept as an empty text, so a copy left in the store is not
// used again). A JSON object from account name to text, 0600 in a 0700
// folder, rewritten whole and atomically; removed when it holds nothing.
// Not thread-safe: one thread uses it.
class KeyFile
{
public:
    KeyFile(const QString& path, const VellLog& log);

    const QString& path() const { return m_path; }

    // The account's entry: a key, an empty text for a pending removal, or
    // none when the file has nothing for the account.
    std::optional<QString> entry(const QString& account);
    // False when the file could not be written; the file is then unchanged.
    bool put(const QString& account, const QString& key);
    bool drop(const QString& account);
    // Whether any key (not only a removal) is kept here.
    bool holdsKeys();

private:
    QHash<QString, QString>& entries();
    bool writeOut(const QHash<QString, QString>& entries);

    QString m_path;
    const VellLog& m_log;
    std::optional<QHash<QString, QString>> m_entries;
};
