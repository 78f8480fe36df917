#pragma once

#include "app/windows/WindowServices.h"

#include <QWidget>

class KeyRow;
class KeyringLockNote;
class QCheckBox;
class QComboBox;

// Whether and with which model the transcript is cleaned up, and the key for it.
class CleanupTab : public QWidget
{
    Q_OBJECT

public:
    explicit CleanupTab(const WindowServices& services, QWidget* parent = nullptr);

    QCheckBox* enabled() const { return m_enabled; }
    QComboBox* model() const { return m_model; }
    KeyRow* keyRow() const { return m_key; }
    KeyringLockNote* lockNote() const { return m_lockNote; }

private:
    WindowServices m_services;
    QCheckBox* m_enabled;
    QComboBox* m_model;
    KeyRow* m_key;
    KeyringLockNote* m_lockNote = nullptr;
};
