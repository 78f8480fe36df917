#pragma once

#include "app/windows/WindowServices.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// How long dictations are kept, whether voice may go to the AI services, the
// debug log, and deleting every dictation.
class PrivacyTab : public QWidget
{
    Q_OBJECT

public:
    explicit PrivacyTab(const WindowServices& services, QWidget* parent = nullptr);

    QComboBox* retention() const { return m_retention; }
    QCheckBox* sharing() const { return m_sharing; }
    QPushButton* revealLog() const { return m_revealLog; }
    QLabel* revealProblem() const { return m_revealProblem; }
    QPushButton* deleteAll() const { return m_deleteAll; }

private:
    void revealDebugLog();

    WindowServices m_services;
    QComboBox* m_retention;
    QCheckBox* m_sharing;
    QPushButton* m_revealLog;
    QLabel* m_revealProblem;
    QPushButton* m_deleteAll;
};
