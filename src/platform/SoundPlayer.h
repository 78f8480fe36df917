#pragma once

#include <QString>

#include <optional>

// Plays short sound files. Main thread only; nothing blocks.
//
// A loaded sound plays from its start when play() is called while it is
// silent; play() while it is still playing does nothing, stop() silences it.
// Different sounds may overlap.
class SoundPlayer
{
public:
    SoundPlayer() = default;
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;
    virtual ~SoundPlayer() = default;

    // Reads the file at `path` (a Qt resource path works); `volume` is a gain
    // from 0 to 1. None when the file is missing or unreadable.
    virtual std::optional<int> load(const QString& path, float volume) = 0;
    virtual void play(int sound) = 0;
    virtual void stop(int sound) = 0;
};
