#pragma once

#include "audio/AudioInputDevice.h"
#include "platform/AudioCaptureStream.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

// The machine's audio devices and a way to record an input.
//
// The queries read a picture of the devices that the backend keeps current by
// itself: they never wait for the audio server and may be called from any
// thread. `inputsChanged` and `defaultInputChanged` are emitted on the thread
// the backend lives on (the main thread), each only when the answers of the
// matching queries have changed. openCapture() may be called from any thread;
// the stream it returns must be destroyed before the backend.
class AudioBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Every device of the platform that might be an input, in its own order.
    virtual QList<quint32> deviceIds() const = 0;
    // None when the device is not an input (an output's monitor, for one), is
    // gone, or lacks a UID or a name.
    virtual std::optional<AudioInputDevice> deviceInfo(quint32 id) const = 0;
    // None while the default input cannot be read.
    virtual std::optional<quint32> defaultInputId() const = 0;

    // Starts recording `device`, or the platform's default input when none.
    virtual std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>& device,
                                                            AudioCaptureStream::Handlers handlers) = 0;

Q_SIGNALS:
    void inputsChanged();
    void defaultInputChanged();
};
