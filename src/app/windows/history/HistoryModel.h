#pragma once

#include "storage/HistoryEntry.h"

#include <QAbstractListModel>
#include <QLocale>

#include <optional>

class HistoryStore;

// The history's entries that match the search, newest first, as a list
// model, and which one was copied last. Follows the store as it changes.
class HistoryModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { EntryRole = Qt::UserRole + 1, CopiedRole };

    // `history` must outlive the model.
    explicit HistoryModel(HistoryStore& history, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QString& search() const { return m_search; }
    void setSearch(const QString& search);

    const std::optional<QUuid>& copiedID() const { return m_copiedID; }
    void setCopiedID(const std::optional<QUuid>& id);

    const HistoryEntry& entry(int row) const { return m_shown[row]; }
    int rowOf(const QUuid& id) const;

    // Whether `text` contains `search`, ignoring case as the locale does.
    static bool matches(const QString& text, const QString& search, const QLocale& locale = QLocale());

private:
    void reload();

    HistoryStore& m_history;
    QString m_search;
    std::optional<QUuid> m_copiedID;
    QList<HistoryEntry> m_shown;
};
