#pragma once

// Whether this program may record the microphone. Main thread only; status()
// answers at once from what the platform last said.
class MicrophonePermission
{
public:
    enum class Status { granted, denied, undetermined };

    virtual ~MicrophonePermission() = default;

    virtual Status status() = 0;
    // Asks the platform (or the user) for access; the answer shows in a later status().
    virtual void request() = 0;
};
