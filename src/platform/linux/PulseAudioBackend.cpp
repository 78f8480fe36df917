#include "platform/linux/PulseAudioBackend.h"

#include "platform/linux/PulseCaptureStream.h"
#include "platform/linux/PulseConnection.h"
#include "storage/VellLog.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace {

bool equals(const char* value, const char* expected)
{
    return value && std::strcmp(value, expected) == 0;
}

} // namespace

PulseAudioBackend::PulseAudioBackend(QObject* parent) : AudioBackend(parent)
{
    m_connection =
        std::make_unique<PulseConnection>([this](pa_context* context) { onReady(context); }, [this] { onLost(); });
}

PulseAudioBackend::~PulseAudioBackend() = default;

QList<quint32> PulseAudioBackend::deviceIds() const
{
    std::lock_guard lock(m_mutex);
    QList<quint32> ids;
    ids.reserve(qsizetype(m_sources.size()));
    for (const auto& entry : m_sources)
        ids.append(entry.first);
    return ids;
}

std::optional<AudioInputDevice> PulseAudioBackend::deviceInfo(quint32 id) const
{
    std::lock_guard lock(m_mutex);
    return inputLocked(id);
}

std::optional<quint32> PulseAudioBackend::defaultInputId() const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [index, source] : m_sources)
        if (source.name == m_defaultSourceName)
            return index;
    return std::nullopt;
}

std::unique_ptr<AudioCaptureStream> PulseAudioBackend::openCapture(const std::optional<AudioInputDevice>& device,
                                                                   AudioCaptureStream::Handlers handlers)
{
    return std::make_unique<PulseCaptureStream>(*m_connection, device ? device->uid : QString(), std::move(handlers));
}

std::optional<AudioInputDevice> PulseAudioBackend::inputLocked(quint32 id) const
{
    const auto entry = m_sources.find(id);
    if (entry == m_sources.end())
        return std::nullopt;
    const Source& source = entry->second;
    if (!source.isInput || source.name.isEmpty() || source.description.isEmpty())
        return std::nullopt;
    return AudioInputDevice{id, source.name, source.description, source.isBuiltIn};
}

void PulseAudioBackend::onReady(pa_context* context)
{
    pa_context_set_subscribe_callback(
        context,
        [](pa_context* context, pa_subscription_event_type_t event, uint32_t index, void* self) {
            auto* backend = static_cast<PulseAudioBackend*>(self);
            switch (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
            case PA_SUBSCRIPTION_EVENT_SOURCE:
                backend->onSourceEvent(context, event & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
                break;
            case PA_SUBSCRIPTION_EVENT_SERVER:
                // The default source is a server property.
                backend->requestServerInfo(context);
                break;
            default:
                break;
            }
        },
        this);
    pa_operation_unref(pa_context_subscribe(
        context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr, nullptr));
    pa_operation_unref(pa_context_get_source_info_list(context, &PulseAudioBackend::onSourceInfo, this));
    requestServerInfo(context);
}

void PulseAudioBackend::onLost()
{
    {
        std::lock_guard lock(m_mutex);
        m_sources.clear();
        m_defaultSourceName.clear();
    }
    publish();
}

void PulseAudioBackend::onSourceEvent(pa_context* context, int event, quint32 index)
{
    if (event == PA_SUBSCRIPTION_EVENT_REMOVE) {
        {
            std::lock_guard lock(m_mutex);
            const auto entry = m_sources.find(index);
            if (entry == m_sources.end())
                return;
            VellLog::audio().debug(QStringLiteral("source removed: %1").arg(entry->second.name));
            m_sources.erase(entry);
        }
        publish();
        return;
    }
    // New, or changed (which includes every suspend and resume): read it again.
    pa_operation* query = pa_context_get_source_info_by_index(context, index, &PulseAudioBackend::onSourceInfo, this);
    if (query)
        pa_operation_unref(query);
}

void PulseAudioBackend::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self)
{
    auto* backend = static_cast<PulseAudioBackend*>(self);
    if (info)
        backend->storeSource(*info);
    if (eol)
        backend->publish();
}

void PulseAudioBackend::storeSource(const pa_source_info& info)
{
    Source source;
    source.name = QString::fromUtf8(info.name);
    source.description = QString::fromUtf8(info.description);
    const bool isMonitor = info.monitor_of_sink != PA_INVALID_INDEX ||
                           equals(pa_proplist_gets(info.proplist, PA_PROP_DEVICE_CLASS), "monitor");
    source.isInput = !isMonitor && info.sample_spec.channels > 0;
    const char* formFactor = pa_proplist_gets(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    source.isBuiltIn = formFactor ? equals(formFactor, "internal")
                                  : equals(pa_proplist_gets(info.proplist, PA_PROP_DEVICE_BUS), "pci");
    std::lock_guard lock(m_mutex);
    m_sources[info.index] = std::move(source);
}

void PulseAudioBackend::requestServerInfo(pa_context* context)
{
    pa_operation* query = pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* self) {
            auto* backend = static_cast<PulseAudioBackend*>(self);
            if (!info)
                return;
            {
                std::lock_guard lock(backend->m_mutex);
                backend->m_defaultSourceName = QString::fromUtf8(info->default_source_name);
            }
            backend->publish();
        },
        this);
    if (query)
        pa_operation_unref(query);
}

void PulseAudioBackend::publish()
{
    QList<AudioInputDevice> inputs;
    std::optional<AudioInputDevice> defaultInput;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_sources) {
            if (auto input = inputLocked(entry.first))
                inputs.append(std::move(*input));
            if (entry.second.name == m_defaultSourceName)
                defaultInput = inputLocked(entry.first);
        }
    }
    const bool inputsDiffer = inputs != m_announcedInputs;
    const bool defaultDiffers = defaultInput != m_announcedDefault;
    m_announcedInputs = std::move(inputs);
    m_announcedDefault = std::move(defaultInput);
    if (inputsDiffer) {
        VellLog::audio().debug(QStringLiteral("inputs changed: %1").arg(m_announcedInputs.size()));
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT inputsChanged(); }, Qt::QueuedConnection);
    }
    if (defaultDiffers) {
        VellLog::audio().debug(QStringLiteral("default input changed: %1")
                                   .arg(m_announcedDefault ? m_announcedDefault->uid : QStringLiteral("none")));
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT defaultInputChanged(); }, Qt::QueuedConnection);
    }
}
