#pragma once

#include "control/DictationState.h"

#include <QFrame>

class QLabel;
class QPushButton;

// The last dictation that could not be pasted, in the tray's drop-down: when
// and where it was meant to go, its text (selectable), why it was not pasted,
// and buttons to copy it or to dismiss the card.
class UnpastedCard : public QFrame
{
    Q_OBJECT

public:
    explicit UnpastedCard(QWidget* parent = nullptr);

    void setFailure(const UnpastedDictation& failure, const QString& title, bool copied);

    QPushButton& copyButton() { return *m_copy; }
    QPushButton& dismissButton() { return *m_dismiss; }
    QString title() const;

Q_SIGNALS:
    void copyRequested();
    void dismissRequested();

private:
    QLabel* m_title;
    QLabel* m_text;
    QLabel* m_reason;
    QPushButton* m_copy;
    QPushButton* m_dismiss;
};
