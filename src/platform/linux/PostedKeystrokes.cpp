#include "platform/linux/PostedKeystrokes.h"

void PostedKeystrokes::add(uint8_t x11KeyCode, bool down)
{
    m_entries.append({x11KeyCode, down, QDeadlineTimer(kLifetime)});
}

bool PostedKeystrokes::take(uint8_t x11KeyCode, bool down)
{
    m_entries.removeIf([](const Entry& entry) { return entry.deadline.hasExpired(); });
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].keyCode == x11KeyCode && m_entries[i].down == down) {
            m_entries.removeAt(i);
            return true;
        }
    }
    return false;
}
