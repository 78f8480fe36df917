#include "platform/linux/PulseCaptureStream.h"

#include "platform/linux/PulseConnection.h"
#include "platform/linux/PulseTeardown.h"
#include "storage/VellLog.h"

#include <QtEndian>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

// The blocks are handed on as they arrive: little-endian bytes read as qint16.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

namespace {

constexpr pa_usec_t kFragmentUsec = 20 * PA_USEC_PER_MSEC;
constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, AudioCaptureStream::kSampleRate, 1};

} // namespace

PulseCaptureStream::PulseCaptureStream(PulseConnection& connection, const QString& sourceName, Handlers handlers)
    : m_connection(connection), m_handlers(std::move(handlers))
{
    std::lock_guard lock(m_connection);
    pa_context* context = m_connection.context();
    if (!context) {
        report(Event::Type::failed, PA_ERR_CONNECTIONREFUSED);
        return;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Dictation");
    m_stream = pa_stream_new_with_proplist(context, "Dictation", &kSpec, nullptr, properties);
    pa_proplist_free(properties);
    if (!m_stream) {
        report(Event::Type::failed, pa_context_errno(context));
        return;
    }
    pa_stream_set_state_callback(
        m_stream, [](pa_stream*, void* self) { static_cast<PulseCaptureStream*>(self)->onStateChanged(); }, this);
    pa_stream_set_read_callback(
        m_stream,
        [](pa_stream*, size_t readable, void* self) { static_cast<PulseCaptureStream*>(self)->onReadable(readable); },
        this);
    // The server moves a stream whose source disappears to the default one;
    // the capture hears of it and chooses again.
    pa_stream_set_moved_callback(
        m_stream, [](pa_stream*, void* self) { static_cast<PulseCaptureStream*>(self)->report(Event::Type::moved); },
        this);

    pa_buffer_attr buffer;
    buffer.maxlength = uint32_t(-1);
    buffer.tlength = uint32_t(-1);
    buffer.prebuf = uint32_t(-1);
    buffer.minreq = uint32_t(-1);
    buffer.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUsec, &kSpec));
    const QByteArray device = sourceName.toUtf8();
    if (pa_stream_connect_record(m_stream, sourceName.isEmpty() ? nullptr : device.constData(), &buffer,
                                 PA_STREAM_ADJUST_LATENCY) < 0) {
        const int error = pa_context_errno(context);
        release();
        report(Event::Type::failed, error);
    }
}

PulseCaptureStream::~PulseCaptureStream()
{
    std::lock_guard lock(m_connection);
    release();
}

void PulseCaptureStream::release()
{
    cancelOperation(m_formatQuery);
    closeStream(m_stream);
}

void PulseCaptureStream::onStateChanged()
{
    switch (pa_stream_get_state(m_stream)) {
    case PA_STREAM_READY: {
        m_wasReady = true;
        // The log wants the device's own format, not the converted one.
        m_formatQuery = pa_context_get_source_info_by_index(
            pa_stream_get_context(m_stream), pa_stream_get_device_index(m_stream),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* self = static_cast<PulseCaptureStream*>(data);
                if (info)
                    self->report(Event::Type::started, 0, int(info->sample_spec.rate), info->sample_spec.channels);
                else if (eol < 0)
                    self->report(Event::Type::started, 0, kSpec.rate, kSpec.channels);
                if (eol && self->m_formatQuery) {
                    pa_operation_unref(self->m_formatQuery);
                    self->m_formatQuery = nullptr;
                }
            },
            this);
        if (!m_formatQuery)
            report(Event::Type::started, 0, kSpec.rate, kSpec.channels);
        break;
    }
    case PA_STREAM_FAILED: {
        const int error = pa_context_errno(pa_stream_get_context(m_stream));
        const bool wasReady = m_wasReady;
        VellLog::audio().info(QStringLiteral("record stream ended: %1").arg(QString::fromUtf8(pa_strerror(error))));
        release();
        report(wasReady ? Event::Type::killed : Event::Type::failed, error);
        break;
    }
    default:
        break;
    }
}

void PulseCaptureStream::onReadable(size_t readable)
{
    // What arrives meanwhile comes with a call of its own.
    while (readable > 0) {
        const void* data = nullptr;
        size_t count = 0;
        if (pa_stream_peek(m_stream, &data, &count) < 0 || count == 0)
            return;
        if (data) // otherwise a hole: nothing was recorded there
            append(static_cast<const char*>(data), count);
        pa_stream_drop(m_stream);
        readable -= std::min(count, readable);
    }
}

void PulseCaptureStream::append(const char* bytes, size_t count)
{
    constexpr size_t kBlockBytes = sizeof(m_block);
    while (count > 0) {
        const size_t taken = std::min(count, kBlockBytes - m_blockBytes);
        std::memcpy(reinterpret_cast<char*>(m_block.data()) + m_blockBytes, bytes, taken);
        m_blockBytes += taken;
        bytes += taken;
        count -= taken;
        if (m_blockBytes == kBlockBytes) {
            m_blockBytes = 0;
            if (m_handlers.frames)
                m_handlers.frames(m_block.data(), kBlockFrames);
        }
    }
}

void PulseCaptureStream::report(Event::Type type, int errorCode, int sampleRate, int channels)
{
    if (m_handlers.event)
        m_handlers.event(Event{type, sampleRate, channels, errorCode});
}
