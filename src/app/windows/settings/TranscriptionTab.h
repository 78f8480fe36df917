#pragma once

#include "app/windows/WindowServices.h"

#include <QWidget>

class KeyRow;
class KeyringLockNote;
class QComboBox;
class QLabel;

// The speech service, its key, and the language to listen for.
class TranscriptionTab : public QWidget
{
    Q_OBJECT

public:
    explicit TranscriptionTab(const WindowServices& services, QWidget* parent = nullptr);

    QComboBox* provider() const { return m_provider; }
    QComboBox* language() const { return m_language; }
    // The key row of the chosen service; none for the demo.
    KeyRow* keyRow() const;
    QLabel* help() const { return m_help; }
    // Shown while the chosen service's key is behind a locked keyring; none
    // when where keys are kept is unknown.
    KeyringLockNote* lockNote() const { return m_lockNote; }

private:
    void showProvider();
    void describeKeyStorage();

    WindowServices m_services;
    QComboBox* m_provider;
    KeyRow* m_assemblyAI;
    KeyRow* m_soniox;
    QLabel* m_assemblyAILink;
    QLabel* m_sonioxLink;
    QComboBox* m_language;
    QLabel* m_help;
    QWidget* m_keyLabel = nullptr;
    KeyringLockNote* m_lockNote = nullptr;
};
