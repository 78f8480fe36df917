#include "fakes/FakeAudioBackend.h"

#include "fakes/FakeAudioCaptureStream.h"

namespace {

constexpr int kErrorNoEntity = 5;

} // namespace

void FakeAudioBackend::setDevices(const QList<Device>& devices)
{
    {
        std::lock_guard lock(m_mutex);
        m_devices = devices;
    }
    Q_EMIT inputsChanged();
}

void FakeAudioBackend::setDefaultId(std::optional<quint32> id)
{
    {
        std::lock_guard lock(m_mutex);
        m_defaultId = id;
    }
    Q_EMIT defaultInputChanged();
}

void FakeAudioBackend::setDevices(const QList<Device>& devices, std::optional<quint32> defaultId)
{
    {
        std::lock_guard lock(m_mutex);
        m_devices = devices;
        m_defaultId = defaultId;
    }
    Q_EMIT inputsChanged();
    Q_EMIT defaultInputChanged();
}

void FakeAudioBackend::setStartsAtOnce(bool startsAtOnce)
{
    std::lock_guard lock(m_mutex);
    m_startsAtOnce = startsAtOnce;
}

void FakeAudioBackend::setFailsAll(bool failsAll)
{
    std::lock_guard lock(m_mutex);
    m_failsAll = failsAll;
}

void FakeAudioBackend::setFailingUids(const QSet<QString>& uids)
{
    std::lock_guard lock(m_mutex);
    m_failingUids = uids;
}

QStringList FakeAudioBackend::openedUids() const
{
    std::lock_guard lock(m_mutex);
    return m_openedUids;
}

int FakeAudioBackend::openCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_openedUids.size());
}

int FakeAudioBackend::liveCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_live.size());
}

bool FakeAudioBackend::deliver(const QList<qint16>& samples)
{
    std::lock_guard lock(m_mutex);
    if (m_live.isEmpty())
        return false;
    m_live.last()->handlers().frames(samples.constData(), samples.size());
    return true;
}

bool FakeAudioBackend::sendEvent(EventType type, int errorCode)
{
    std::lock_guard lock(m_mutex);
    if (m_live.isEmpty())
        return false;
    m_live.last()->handlers().event({type, 48000, 1, errorCode});
    return true;
}

QList<quint32> FakeAudioBackend::deviceIds() const
{
    std::lock_guard lock(m_mutex);
    QList<quint32> ids;
    for (const Device& device : m_devices)
        ids.append(device.id);
    return ids;
}

std::optional<AudioInputDevice> FakeAudioBackend::deviceInfo(quint32 id) const
{
    std::lock_guard lock(m_mutex);
    for (const Device& device : m_devices)
        if (device.id == id && device.isInput && !device.uid.isEmpty() && !device.name.isEmpty())
            return AudioInputDevice{device.id, device.uid, device.name, device.isBuiltIn};
    return std::nullopt;
}

std::optional<quint32> FakeAudioBackend::defaultInputId() const
{
    std::lock_guard lock(m_mutex);
    return m_defaultId;
}

std::unique_ptr<AudioCaptureStream> FakeAudioBackend::openCapture(const std::optional<AudioInputDevice>& device,
                                                                  AudioCaptureStream::Handlers handlers)
{
    std::lock_guard lock(m_mutex);
    const QString uid = device ? device->uid : QString();
    m_openedUids.append(uid);
    auto stream = std::make_unique<FakeAudioCaptureStream>(*this, uid, std::move(handlers));
    m_live.append(stream.get());
    if (m_failsAll || m_failingUids.contains(uid))
        stream->handlers().event({EventType::failed, 0, 0, kErrorNoEntity});
    else if (m_startsAtOnce)
        stream->handlers().event({EventType::started, 48000, 1, 0});
    return stream;
}

void FakeAudioBackend::forget(FakeAudioCaptureStream* stream)
{
    std::lock_guard lock(m_mutex);
    m_live.removeOne(stream);
}
