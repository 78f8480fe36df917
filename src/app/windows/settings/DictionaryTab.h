#pragma once

#include "app/windows/WindowServices.h"

#include <QHash>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QVBoxLayout;

// The user's dictionary, one entry per line, and below it the spellings the
// AI cleanup had to fix in more than one dictation, each offered to add or
// dismiss. The suggestions are worked out again whenever the tab is shown
// and whenever the history, the dictionary or the dismissed words change
// while it is.
class DictionaryTab : public QWidget
{
    Q_OBJECT

public:
    explicit DictionaryTab(const WindowServices& services, QWidget* parent = nullptr);

    QPlainTextEdit* editor() const { return m_editor; }
    // The suggestions shown, in order.
    const QStringList& suggestions() const { return m_suggestions; }
    void add(const QString& word);
    void dismiss(const QString& word);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onEdited();
    void onVocabularyChanged(const QStringList& vocabulary);
    void recount();
    void refreshSuggestions();

    WindowServices m_services;
    QPlainTextEdit* m_editor;
    QWidget* m_suggestionsBox;
    QVBoxLayout* m_suggestionRows;
    QStringList m_suggestions;
    QHash<QString, int> m_counts; // how many dictations fixed each word, from the last count
    quint64 m_countGeneration = 0;
};
