#include "app/windows/history/HistoryModel.h"

#include "storage/HistoryStore.h"

HistoryModel::HistoryModel(HistoryStore& history, QObject* parent) : QAbstractListModel(parent), m_history(history)
{
    connect(&m_history, &HistoryStore::entriesChanged, this, &HistoryModel::reload);
    reload();
}

int HistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown.size())
        return {};
    const HistoryEntry& shown = m_shown[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return shown.text;
    case EntryRole:
        return QVariant::fromValue(shown.id);
    case CopiedRole:
        return m_copiedID == shown.id;
    default:
        return {};
    }
}

void HistoryModel::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    reload();
}

void HistoryModel::setCopiedID(const std::optional<QUuid>& id)
{
    const int before = m_copiedID ? rowOf(*m_copiedID) : -1;
    m_copiedID = id;
    const int after = id ? rowOf(*id) : -1;
    for (int row : {before, after})
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), {CopiedRole});
}

int HistoryModel::rowOf(const QUuid& id) const
{
    for (qsizetype row = 0; row < m_shown.size(); ++row)
        if (m_shown[row].id == id)
            return int(row);
    return -1;
}

bool HistoryModel::matches(const QString& text, const QString& search, const QLocale& locale)
{
    if (search.isEmpty())
        return true;
    // The locale's lower case (a Turkish İ included), canonically composed on both sides.
    const QString haystack = locale.toLower(text.normalized(QString::NormalizationForm_C));
    const QString needle = locale.toLower(search.normalized(QString::NormalizationForm_C));
    return haystack.contains(needle, Qt::CaseInsensitive);
}

void HistoryModel::reload()
{
    beginResetModel();
    m_shown.clear();
    const QLocale locale;
    for (const HistoryEntry& entry : m_history.entries())
        if (matches(entry.text, m_search, locale))
            m_shown.append(entry);
    endResetModel();
}
