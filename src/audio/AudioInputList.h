#pragma once

#include "audio/AudioInputDevice.h"

#include <QList>
#include <QObject>

#include <optional>

class AudioBackend;

// The machine's audio inputs and the system default input, kept current for
// the microphone picker and the controller. Lives on the main thread: the
// backend's change signals arrive there and each runs refresh(), which
// notifies only for a field whose value changed.
//
// The static queries read the backend only and may be called from any thread
// (the capture's queue uses them to resolve the chosen input).
class AudioInputList : public QObject
{
    Q_OBJECT

public:
    explicit AudioInputList(AudioBackend& backend, QObject* parent = nullptr);

    const QList<AudioInputDevice>& inputs() const { return m_inputs; }
    const std::optional<AudioInputDevice>& defaultInput() const { return m_defaultInput; }

    void refresh();

    static std::optional<AudioInputDevice> deviceInfo(const AudioBackend& backend, quint32 id);
    static QList<AudioInputDevice> allInputs(const AudioBackend& backend);
    static std::optional<AudioInputDevice> defaultInputInfo(const AudioBackend& backend);
    // Matches the UID exactly, letter case included.
    static std::optional<AudioInputDevice> device(const AudioBackend& backend, const QString& uid);
    static std::optional<AudioInputDevice> firstBuiltIn(const AudioBackend& backend);

Q_SIGNALS:
    void inputsChanged();
    void defaultInputChanged();

private:
    AudioBackend& m_backend;
    QList<AudioInputDevice> m_inputs;
    std::optional<AudioInputDevice> m_defaultInput;
};
