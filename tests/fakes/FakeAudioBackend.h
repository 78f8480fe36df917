#pragma once

#include "platform/AudioBackend.h"

#include <QSet>

#include <mutex>

class FakeAudioCaptureStream;

// An audio backend driven by the test, safe to use from the capture's queue
// while the test changes it. Device changes made by the test emit the change
// signals on the test's thread. Recordings opened from the queue are
// registered here; the test feeds the newest live one frames and events as the
// platform would, from its own thread, under the same lock that the
// recording's destruction takes, so nothing reaches a destroyed recording.
class FakeAudioBackend final : public AudioBackend
{
    Q_OBJECT

public:
    using EventType = AudioCaptureStream::Event::Type;

    struct Device
    {
        quint32 id = 0;
        QString uid;
        QString name;
        bool isBuiltIn = false;
        bool isInput = true;
    };

    void setDevices(const QList<Device>& devices);
    void setDefaultId(std::optional<quint32> id);
    // One platform change, as when the default input is unplugged: both
    // signals follow the change.
    void setDevices(const QList<Device>& devices, std::optional<quint32> defaultId);

    // What happens to recordings opened from now on: they start at once (with
    // a 48 kHz mono device), wait for sendEvent(), or fail.
    void setStartsAtOnce(bool startsAtOnce);
    void setFailsAll(bool failsAll);
    void setFailingUids(const QSet<QString>& uids);

    // The UID each recording was opened with, in order; empty for the default.
    QStringList openedUids() const;
    int openCount() const;
    int liveCount() const;

    // Feed the newest live recording; false when there is none.
    bool deliver(const QList<qint16>& samples);
    bool sendEvent(EventType type, int errorCode = 0);

    QList<quint32> deviceIds() const override;
    std::optional<AudioInputDevice> deviceInfo(quint32 id) const override;
    std::optional<quint32> defaultInputId() const override;
    std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>& device,
                                                    AudioCaptureStream::Handlers handlers) override;

private:
    friend class FakeAudioCaptureStream;
    void forget(FakeAudioCaptureStream* stream);

    mutable std::recursive_mutex m_mutex;
    QList<Device> m_devices;
    std::optional<quint32> m_defaultId;
    bool m_startsAtOnce = true;
    bool m_failsAll = false;
    QSet<QString> m_failingUids;
    QStringList m_openedUids;
    QList<FakeAudioCaptureStream*> m_live;
};
