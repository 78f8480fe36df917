#pragma once

#include <QHash>
#include <QString>

class SoundPlayer;

// The two short cues that tell the user that listening has begun and that it
// has ended. The files "DictationStart.wav" and "DictationStop.wav" are read
// from `folder` (the application's resources by default) the first time a cue
// is played with sounds enabled, and never again; a missing or unreadable file
// means that cue stays silent. Main thread only.
class Sounds
{
public:
    enum class Cue { start, stop };

    static constexpr float kVolume = 0.5f;

    // "DictationStart", "DictationStop": also the names of the files.
    static QString rawValue(Cue cue);

    explicit Sounds(SoundPlayer& player, QString folder = QStringLiteral(":/sounds"));

    // Plays `cue` from its start, cutting off a copy still playing, when
    // `enabled` (the user's interaction sounds setting).
    void play(Cue cue, bool enabled);

private:
    void load();

    SoundPlayer& m_player;
    const QString m_folder;
    bool m_loaded = false;
    QHash<Cue, int> m_table;
};
