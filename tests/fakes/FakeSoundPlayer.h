#pragma once

#include "platform/SoundPlayer.h"

#include <QStringList>

// Remembers which sounds were loaded and what was played, by file name.
class FakeSoundPlayer final : public SoundPlayer
{
public:
    QStringList loaded;
    QStringList played; // file names, in order

    std::optional<int> load(const QString& path, float) override
    {
        loaded.append(path.section(QLatin1Char('/'), -1));
        return int(loaded.size() - 1);
    }
    void play(int sound) override { played.append(loaded.value(sound)); }
    void stop(int) override {}
};
