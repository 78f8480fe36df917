#pragma once

#include "app/windows/WindowServices.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

class HistoryModel;
class HistoryRowDelegate;
class QLabel;
class QLineEdit;
class QListView;

class QPushButton;
class QStackedWidget;

// Every stored dictation, newest first: search them, copy one (or the
// transcript it was cleaned from), delete one, or delete all after a
// confirmation. Shows an empty state while the history holds nothing.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryWindow(const WindowServices& services, QWidget* parent = nullptr);

    HistoryModel& model() { return *m_model; }
    QLineEdit* searchField() const { return m_search; }
    QListView* list() const { return m_list; }
    HistoryRowDelegate* delegate() const { return m_delegate; }
    QPushButton* clearAll() const { return m_clearAll; }
    // Says what is wrong with the history and statistics files; hidden while nothing is.
    QLabel* fileTrouble() const { return m_fileTrouble; }
    bool showsEmptyState() const;
    // The row menu while it is open.
    QMenu* rowMenu() const { return m_menu; }

    void copy(int row);
    void copyOriginal(int row);
    void remove(int row);
    // Opens the row's menu at `position` in the list's viewport.
    void openRowMenu(const QPoint& position);

private:
    void showContent();
    void showFileTrouble();

    WindowServices m_services;
    HistoryModel* m_model;
    QLineEdit* m_search;
    QPushButton* m_clearAll;
    QLabel* m_fileTrouble;
    QStackedWidget* m_stack;
    QListView* m_list;
    HistoryRowDelegate* m_delegate;
    QWidget* m_empty;
    QWidget* m_noMatches;
    QPointer<QMenu> m_menu;
};
