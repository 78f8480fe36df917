#pragma once

#include <QByteArray>
#include <QList>

#include <memory>

class AudioStream;

// Carries one dictation's microphone audio across connection attempts. Each
// attempt gets a fresh stream from makeStream(); while no attempt listens the
// audio is held (at most kHeldByteLimit bytes, oldest whole chunks dropped
// first) and handed to the next attempt before anything newer.
//
// What an attempt is given stays kept, within the same limit, until confirm()
// says the attempt has shown text: until then nothing of it can have reached
// the user, so an attempt that goes away unconfirmed hands all of it on to the
// next one, and what it was given later is not heard twice.
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
    // The current attempt has shown text: what it was given so far is its own.
    void confirm();
    // The current attempt is gone: its stream ends, and what it was given
    // unconfirmed goes back ahead of the held audio.
    void detach();
    // The microphone has ended.
    void markFinished();

    bool isFinished() const { return m_finished; }
    qsizetype heldBytes() const { return m_heldBytes; }

private:
    // Appends to `chunks`, then drops its oldest chunks beyond the limit.
    static void keep(QList<QByteArray>& chunks, qsizetype& bytes, QList<QByteArray> more);

    std::shared_ptr<AudioStream> m_current;
    QList<QByteArray> m_held;
    qsizetype m_heldBytes = 0;
    QList<QByteArray> m_unconfirmed;
    qsizetype m_unconfirmedBytes = 0;
    bool m_confirmed = false;
    bool m_finished = false;
};
