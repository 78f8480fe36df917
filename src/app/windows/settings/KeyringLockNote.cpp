#include "app/windows/settings/KeyringLockNote.h"

#include "app/widgets/WindowStyle.h"
#include "storage/KeyStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

KeyringLockNote::KeyringLockNote(KeyStore& keys, QWidget* parent)
    : QWidget(parent), m_keys(keys), m_message(WindowStyle::secondary(QString(), this)),
      m_unlock(new QPushButton(QStringLiteral("Unlock Keyring…"), this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_unlock, 0, Qt::AlignVCenter);

    connect(m_unlock, &QPushButton::clicked, this, [this] {
        m_waiting = true;
        m_stayedLocked = false;
        refresh();
        m_keys.unlock();
    });
    connect(&m_keys, &KeyStore::keysLoaded, this, &KeyringLockNote::refresh);
    connect(&m_keys, &KeyStore::keyWritten, this, &KeyringLockNote::refresh);
    connect(&m_keys, &KeyStore::unlockFinished, this, [this] {
        m_waiting = false;
        m_stayedLocked = m_keys.isLocked(m_account);
        refresh();
    });
    refresh();
}

void KeyringLockNote::setAccount(const QString& account)
{
    m_account = account;
    m_stayedLocked = false;
    refresh();
}

void KeyringLockNote::refresh()
{
    const bool locked = !m_account.isEmpty() && m_keys.isLocked(m_account);
    setVisible(locked);
    m_unlock->setEnabled(!m_waiting);
    if (m_waiting)
        m_message->setText(QStringLiteral("Waiting for the keyring to be unlocked…"));
    else if (m_stayedLocked)
        m_message->setText(QStringLiteral("The keyring is still locked, so the saved key can't be read."));
    else
        m_message->setText(QStringLiteral("Your keyring is locked, so the saved key can't be read."));
}
