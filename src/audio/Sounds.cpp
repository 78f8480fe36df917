#include "audio/Sounds.h"

#include "platform/SoundPlayer.h"

QString Sounds::rawValue(Cue cue)
{
    switch (cue) {
    case Cue::start:
        return QStringLiteral("DictationStart");
    case Cue::stop:
        return QStringLiteral("DictationStop");
    }
    return {};
}

Sounds::Sounds(SoundPlayer& player, QString folder) : m_player(player), m_folder(std::move(folder)) {}

void Sounds::play(Cue cue, bool enabled)
{
    if (!enabled)
        return;
    if (!m_loaded)
        load();
    const auto entry = m_table.constFind(cue);
    if (entry == m_table.cend())
        return;
    m_player.stop(*entry);
    m_player.play(*entry);
}

void Sounds::load()
{
    m_loaded = true;
    for (Cue cue : {Cue::start, Cue::stop})
        if (const auto sound =
                m_player.load(m_folder + QLatin1Char('/') + rawValue(cue) + QStringLiteral(".wav"), kVolume))
            m_table.insert(cue, *sound);
}
