#pragma once

#include "platform/SoundPlayer.h"

#include <memory>
#include <vector>

class PulseConnection;

// Plays PCM wav files (8, 16, 24 or 32-bit integer, or 32-bit float) as
// PulseAudio playback streams with the role "event", the volume applied as
// the stream's own volume. A sound is read into memory once; each play() is a
// new stream that ends itself after draining. Without a sound server nothing
// is heard.
class PulseSoundPlayer final : public SoundPlayer
{
public:
    PulseSoundPlayer();
    ~PulseSoundPlayer() override;

    std::optional<int> load(const QString& path, float volume) override;
    void play(int sound) override;
    void stop(int sound) override;

private:
    struct Sound;

    std::vector<std::unique_ptr<Sound>> m_sounds;
    std::unique_ptr<PulseConnection> m_connection;
};
