#pragma once

#include "platform/MicrophonePermission.h"

// A permission the test sets; request() grants it, as a user would.
class FakeMicrophonePermission final : public MicrophonePermission
{
public:
    Status current = Status::granted;
    int requests = 0;

    Status status() override { return current; }
    void request() override
    {
        ++requests;
        current = Status::granted;
    }
};
