#pragma once

#include "platform/AudioBackend.h"

#include <map>
#include <memory>
#include <mutex>

class PulseConnection;
struct pa_context;
struct pa_source_info;

// The audio backend on the PulseAudio client API, served by PulseAudio and by
// PipeWire's PulseAudio service. Device ids are source indices, UIDs source
// names, names their descriptions; an output's monitor is not an input; a
// source is built in when its form factor is "internal" or, lacking one, when
// it sits on the PCI bus. Subscribed source and server events update the
// picture on libpulse's thread, and the change signals follow on the thread
// the backend lives on. Recording streams are converted by the server.
class PulseAudioBackend final : public AudioBackend
{
    Q_OBJECT

public:
    explicit PulseAudioBackend(QObject* parent = nullptr);
    ~PulseAudioBackend() override;

    QList<quint32> deviceIds() const override;
    std::optional<AudioInputDevice> deviceInfo(quint32 id) const override;
    std::optional<quint32> defaultInputId() const override;
    std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>& device,
                                                    AudioCaptureStream::Handlers handlers) override;

private:
    struct Source
    {
        QString name;
        QString description;
        bool isInput = false;
        bool isBuiltIn = false;
    };

    // On libpulse's thread.
    void onReady(pa_context* context);
    void onLost();
    void onSourceEvent(pa_context* context, int event, quint32 index);
    // Each source a source query answers, then its end.
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
    void storeSource(const pa_source_info& info);
    void requestServerInfo(pa_context* context);
    void publish();

    std::optional<AudioInputDevice> inputLocked(quint32 id) const;

    mutable std::mutex m_mutex;
    std::map<quint32, Source> m_sources; // also tells which source a removal event means
    QString m_defaultSourceName;

    // libpulse's thread only: what the signals last announced.
    QList<AudioInputDevice> m_announcedInputs;
    std::optional<AudioInputDevice> m_announcedDefault;

    // Last, so that its thread stops before the state above goes.
    std::unique_ptr<PulseConnection> m_connection;
};
