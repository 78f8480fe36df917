#pragma once

#include <QDeadlineTimer>
#include <QList>

#include <chrono>
#include <cstdint>

// What this program has just posted through XTest, so the keyboard tap can
// tell its own keystrokes apart: XTest events carry no marker, and ours arrive
// exactly like those of any other tool. Main thread only.
class PostedKeystrokes
{
public:
    static constexpr std::chrono::milliseconds kLifetime{1000};

    // Remembers a key about to be posted.
    void add(uint8_t x11KeyCode, bool down);

    // Whether a key event seen now is one of ours; each posted key matches once.
    bool take(uint8_t x11KeyCode, bool down);

private:
    struct Entry
    {
        uint8_t keyCode;
        bool down;
        QDeadlineTimer deadline;
    };
    QList<Entry> m_entries;
};
