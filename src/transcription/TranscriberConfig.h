#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What a transcriber needs to know about one dictation.
struct TranscriberConfig
{
    QString apiKey;                  // the chosen service's key; empty for the demo
    std::optional<QString> language; // a pinned language code; absent lets the service detect it
    QStringList vocabulary;          // the user's dictionary, as boost words
};
