#pragma once

#include "platform/AudioCaptureStream.h"

#include <QString>

class FakeAudioBackend;

// A recording opened on the FakeAudioBackend; it only remembers its handlers.
// The backend calls them on the test's behalf.
class FakeAudioCaptureStream final : public AudioCaptureStream
{
public:
    FakeAudioCaptureStream(FakeAudioBackend& backend, QString uid, Handlers handlers);
    ~FakeAudioCaptureStream() override;

    const QString& uid() const { return m_uid; }
    const Handlers& handlers() const { return m_handlers; }

private:
    FakeAudioBackend& m_backend;
    const QString m_uid;
    const Handlers m_handlers;
};
