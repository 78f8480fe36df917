#include "platform/linux/PulseSoundPlayer.h"

#include "platform/linux/PulseConnection.h"
#include "platform/linux/PulseTeardown.h"

#include <QFile>
#include <QtEndian>

#include <pulse/pulseaudio.h>

#include <mutex>

struct PulseSoundPlayer::Sound
{
    pa_sample_spec layout{};
    QByteArray samples;
    float volume = 1.0f;

    // While playing; libpulse's lock guards these.
    pa_stream* stream = nullptr;
    pa_operation* drain = nullptr;
    qsizetype written = 0;

    void release()
    {
        cancelOperation(drain);
        closeStream(stream);
        written = 0;
    }

    void write(size_t writable)
    {
        const qsizetype count = std::min(qsizetype(writable), samples.size() - written);
        if (count > 0) {
            pa_stream_write(stream, samples.constData() + written, size_t(count), nullptr, 0, PA_SEEK_RELATIVE);
            written += count;
        }
        if (written < samples.size() || drain)
            return;
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        drain = pa_stream_drain(
            stream,
            [](pa_stream*, int, void* data) {
                auto* self = static_cast<Sound*>(data);
                pa_operation_unref(self->drain);
                self->drain = nullptr;
                self->release();
            },
            this);
    }
};

namespace {

quint16 read16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 read32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

pa_sample_format_t sampleFormat(quint16 encoding, quint16 bits)
{
    constexpr quint16 kPcm = 1;
    constexpr quint16 kFloat = 3;
    if (encoding == kPcm) {
        switch (bits) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;
        case 32:
            return PA_SAMPLE_S32LE;
        default:
            return PA_SAMPLE_INVALID;
        }
    }
    if (encoding == kFloat && bits == 32)
        return PA_SAMPLE_FLOAT32LE;
    return PA_SAMPLE_INVALID;
}

// The format and samples of a RIFF WAVE file, or false.
bool readWave(const QByteArray& file, pa_sample_spec& layout, QByteArray& samples)
{
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return false;
    bool haveFormat = false;
    bool haveData = false;
    qsizetype at = 12;
    while (at + 8 <= file.size()) {
        const QByteArray id = file.mid(at, 4);
        const qsizetype body = at + 8;
        const qsizetype length = std::min<qsizetype>(read32(file, at + 4), file.size() - body);
        if (id == "fmt " && length >= 16) {
            quint16 encoding = read16(file, body);
            const quint16 bits = read16(file, body + 14);
            constexpr quint16 kExtensible = 0xFFFE;
            if (encoding == kExtensible && length >= 26)
                encoding = read16(file, body + 24); // the sub-format's first two bytes
            layout.format = sampleFormat(encoding, bits);
            layout.channels = uint8_t(std::min<quint16>(read16(file, body + 2), 255));
            layout.rate = read32(file, body + 4);
            haveFormat = true;
        } else if (id == "data") {
            samples = file.mid(body, length);
            haveData = true;
        }
        at = body + length + (length & 1);
    }
    if (!haveFormat || !haveData || !pa_sample_spec_valid(&layout))
        return false;
    samples.truncate(samples.size() - samples.size() % qsizetype(pa_frame_size(&layout)));
    return !samples.isEmpty();
}

} // namespace

PulseSoundPlayer::PulseSoundPlayer() : m_connection(std::make_unique<PulseConnection>()) {}

PulseSoundPlayer::~PulseSoundPlayer()
{
    std::lock_guard lock(*m_connection);
    for (const auto& sound : m_sounds)
        sound->release();
}

std::optional<int> PulseSoundPlayer::load(const QString& path, float volume)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    auto sound = std::make_unique<Sound>();
    if (!readWave(file.readAll(), sound->layout, sound->samples))
        return std::nullopt;
    sound->volume = std::clamp(volume, 0.0f, 1.0f);
    m_sounds.push_back(std::move(sound));
    return int(m_sounds.size() - 1);
}

void PulseSoundPlayer::play(int sound)
{
    if (sound < 0 || size_t(sound) >= m_sounds.size())
        return;
    Sound& entry = *m_sounds[size_t(sound)];
    std::lock_guard lock(*m_connection);
    pa_context* context = m_connection->context();
    if (entry.stream || !context)
        return;
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "event");
    entry.stream = pa_stream_new_with_proplist(context, "Interaction sound", &entry.layout, nullptr, properties);
    pa_proplist_free(properties);
    if (!entry.stream)
        return;
    pa_stream_set_state_callback(
        entry.stream,
        [](pa_stream* stream, void* data) {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
                static_cast<Sound*>(data)->release();
        },
        &entry);
    pa_stream_set_write_callback(
        entry.stream, [](pa_stream*, size_t writable, void* data) { static_cast<Sound*>(data)->write(writable); },
        &entry);
    pa_cvolume volume;
    pa_cvolume_set(&volume, entry.layout.channels, pa_sw_volume_from_linear(entry.volume));
    if (pa_stream_connect_playback(entry.stream, nullptr, nullptr, pa_stream_flags_t(0), &volume, nullptr) < 0)
        entry.release();
}

void PulseSoundPlayer::stop(int sound)
{
    if (sound < 0 || size_t(sound) >= m_sounds.size())
        return;
    std::lock_guard lock(*m_connection);
    m_sounds[size_t(sound)]->release();
}
