#pragma once

#include <QMetaType>
#include <QString>

// What a transcriber reports while a dictation runs.
struct TranscriptEvent
{
    enum class Kind {
        interim,     // the whole unfinished text of the utterance in progress; replaces the previous one
        final,       // a finished segment to append to the committed text
        language,    // the language detected or switched to, as a short code
        connected,   // the session is open and audio can flow
        reconnecting // the connection dropped and a new one is being made
    };

    Kind kind = Kind::interim;
    QString text; // the text or language code; empty for connected and reconnecting

    static TranscriptEvent interim(const QString& text) { return {Kind::interim, text}; }
    static TranscriptEvent finalText(const QString& text) { return {Kind::final, text}; }
    static TranscriptEvent language(const QString& code) { return {Kind::language, code}; }
    static TranscriptEvent connected() { return {Kind::connected, {}}; }
    static TranscriptEvent reconnecting() { return {Kind::reconnecting, {}}; }

    bool operator==(const TranscriptEvent&) const = default;
};

Q_DECLARE_METATYPE(TranscriptEvent)
