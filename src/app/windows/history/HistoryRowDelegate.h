#pragma once

#include "storage/HistoryEntry.h"

#include <QDateTime>
#include <QStyledItemDelegate>

class HistoryModel;
class QAbstractItemView;

// Draws one dictation of the history list: when, in which application and
// what became of it on a quiet first line, the text below (up to four
// lines), and a copy button at the right that reads "Copied" once used.
class HistoryRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    HistoryRowDelegate(HistoryModel& model, QAbstractItemView& view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // Where the copy button of a row drawn in `row` sits.
    QRect copyButtonRect(const QRect& row, bool copied) const;

    // "Today 14:05 · Editor · Not pasted"
    static QString describe(const HistoryEntry& entry, const QDateTime& now = QDateTime::currentDateTime());

Q_SIGNALS:
    void copyRequested(int row);

private:
    HistoryModel& m_model;
    QAbstractItemView& m_view;
};
