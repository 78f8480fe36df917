#include "fakes/FakeAudioCaptureStream.h"

#include "fakes/FakeAudioBackend.h"

FakeAudioCaptureStream::FakeAudioCaptureStream(FakeAudioBackend& backend, QString uid, Handlers handlers)
    : m_backend(backend), m_uid(std::move(uid)), m_handlers(std::move(handlers))
{}

FakeAudioCaptureStream::~FakeAudioCaptureStream()
{
    m_backend.forget(this);
}
