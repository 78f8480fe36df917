#pragma once

#include <QMetaType>
#include <QString>

// Why a transcription session ended early.
struct TranscriptionError
{
    enum class Kind {
        provider,      // the service reported an error; `message` is its text
        network,       // a transport failure; `message` describes it
        connectionLost // the connection dropped and could not be restored
    };

    Kind kind = Kind::network;
    QString message;

    static TranscriptionError provider(const QString& message) { return {Kind::provider, message}; }
    static TranscriptionError network(const QString& message) { return {Kind::network, message}; }
    static TranscriptionError connectionLost() { return {Kind::connectionLost, {}}; }

    // The sentence shown to the user.
    QString description() const;
    // What went wrong, for the log: never the service's own text, which may
    // quote what was said.
    QString kindName() const;

    bool operator==(const TranscriptionError&) const = default;
};

Q_DECLARE_METATYPE(TranscriptionError)
