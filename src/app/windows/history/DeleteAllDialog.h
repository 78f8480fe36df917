#pragma once

#include <QMessageBox>

#include <functional>

struct PlatformVocabulary;

// The question before every dictation is deleted, window-modal over its
// parent; `deleteAll` runs only when the user confirms. Deletes itself once
// answered.
class DeleteAllDialog : public QMessageBox
{
    Q_OBJECT

public:
    DeleteAllDialog(const PlatformVocabulary& words, std::function<void()> deleteAll, QWidget* parent);

    QAbstractButton* deleteButton() const { return m_delete; }

    // Creates the dialog and shows it without waiting.
    static DeleteAllDialog* ask(const PlatformVocabulary& words, std::function<void()> deleteAll, QWidget* parent);

private:
    QAbstractButton* m_delete;
};
