#pragma once

#include <QByteArray>
#include <QList>

#include <memory>

class AudioStream;

// Carries one dictation's microphone audio across connection attempts. Each
// attempt gets a fresh stream from makeStream(); while no attempt listens the
// audio is held (at most kHeldByteLimit bytes, oldest whole chunks dropped
// first) and handed to the next attempt before anything newer. Audio given to
// an attempt before it confirmed its connection is kept too, so that an
// attempt that never connects loses nothing.
//
// Main thread only; the streams it creates belong to the attempts that read them.
class AudioRelay
{
public:
    static constexpr qsizetype kHeldByteLimit = 960'000; // 30 s of 16 kHz 16-bit mono
    // Unread chunks an attempt's stream keeps on top of the audio replayed into it.
    static constexpr int kAttemptStreamCapacity = 1500;

    // A chunk from the microphone.
    void push(QByteArray chunk);
    // A new stream for the next attempt, already holding the held audio; ended
    // at once when the microphone has ended.
    std::shared_ptr<AudioStream> makeStream();
    // The current attempt is connected: what it was given is its own now.
    void confirm();
    // The current attempt is gone: its stream ends, and what it was given
    // before it confirmed goes back ahead of the held audio.
    void detach();
    // The microphone has ended.
    void markFinished();

    bool isFinished() const { return m_finished; }
    qsizetype heldBytes() const { return m_heldBytes; }

private:
    void hold(QList<QByteArray> chunks);

    std::shared_ptr<AudioStream> m_current;
    QList<QByteArray> m_held;
    qsizetype m_heldBytes = 0;
    QList<QByteArray> m_unconfirmed;
    bool m_confirmed = false;
    bool m_finished = false;
};
