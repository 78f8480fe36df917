#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

// One audio input device as the platform describes it.
struct AudioInputDevice
{
    quint32 id = 0;         // the platform's id, valid until the device is removed
    QString uid;            // persistent; what the settings store as the chosen input
    QString name;           // for display
    bool isBuiltIn = false; // part of the machine rather than plugged in

    bool operator==(const AudioInputDevice&) const = default;
};

inline size_t qHash(const AudioInputDevice& device, size_t seed = 0)
{
    return qHashMulti(seed, device.id, device.uid, device.name, device.isBuiltIn);
}

Q_DECLARE_METATYPE(AudioInputDevice)
