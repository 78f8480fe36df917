#include "audio/AudioInputList.h"

#include "platform/AudioBackend.h"

AudioInputList::AudioInputList(AudioBackend& backend, QObject* parent) : QObject(parent), m_backend(backend)
{
    refresh();
    connect(&m_backend, &AudioBackend::inputsChanged, this, &AudioInputList::refresh);
    connect(&m_backend, &AudioBackend::defaultInputChanged, this, &AudioInputList::refresh);
}

void AudioInputList::refresh()
{
    QList<AudioInputDevice> inputs = allInputs(m_backend);
    std::optional<AudioInputDevice> defaultInput = defaultInputInfo(m_backend);
    const bool inputsDiffer = inputs != m_inputs;
    const bool defaultDiffers = defaultInput != m_defaultInput;
    m_inputs = std::move(inputs);
    m_defaultInput = std::move(defaultInput);
    if (inputsDiffer)
        Q_EMIT inputsChanged();
    if (defaultDiffers)
        Q_EMIT defaultInputChanged();
}

std::optional<AudioInputDevice> AudioInputList::deviceInfo(const AudioBackend& backend, quint32 id)
{
    return backend.deviceInfo(id);
}

QList<AudioInputDevice> AudioInputList::allInputs(const AudioBackend& backend)
{
    QList<AudioInputDevice> inputs;
    for (quint32 id : backend.deviceIds())
        if (auto info = deviceInfo(backend, id))
            inputs.append(std::move(*info));
    return inputs;
}

std::optional<AudioInputDevice> AudioInputList::defaultInputInfo(const AudioBackend& backend)
{
    const std::optional<quint32> id = backend.defaultInputId();
    return id ? deviceInfo(backend, *id) : std::nullopt;
}

std::optional<AudioInputDevice> AudioInputList::device(const AudioBackend& backend, const QString& uid)
{
    for (const AudioInputDevice& input : allInputs(backend))
        if (input.uid == uid)
            return input;
    return std::nullopt;
}

std::optional<AudioInputDevice> AudioInputList::firstBuiltIn(const AudioBackend& backend)
{
    for (const AudioInputDevice& input : allInputs(backend))
        if (input.isBuiltIn)
            return input;
    return std::nullopt;
}
