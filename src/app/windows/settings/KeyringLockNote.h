#pragma once

#include <QWidget>

class KeyStore;
class QLabel;
class QPushButton;

// Shown while a saved key is kept in a keyring that is locked: says so, and
// offers to unlock it. The desktop's unlock prompt appears only when the user
// presses the button. Hidden otherwise. Main thread only.
class KeyringLockNote : public QWidget
{
    Q_OBJECT

public:
    // `keys` must outlive the note.
    KeyringLockNote(KeyStore& keys, QWidget* parent = nullptr);

    // The key store account the note is about; it follows the chosen service.
    void setAccount(const QString& account);

    QLabel* message() const { return m_message; }
    QPushButton* unlockButton() const { return m_unlock; }

private:
    void refresh();

    KeyStore& m_keys;
    QString m_account;
    bool m_waiting = false;
    bool m_stayedLocked = false;
    QLabel* m_message;
    QPushButton* m_unlock;
};
