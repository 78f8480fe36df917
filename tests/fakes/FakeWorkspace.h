#pragma once

#include "platform/Workspace.h"

// A desktop whose front application and keyboard grab the test sets.
class FakeWorkspace final : public Workspace
{
public:
    std::optional<RunningApplication> frontmost;
    std::optional<KeyboardGrab> grab;
    int frontmostQueries = 0;

    std::optional<RunningApplication> frontmostApplication() override
    {
        ++frontmostQueries;
        return frontmost;
    }
    std::optional<KeyboardGrab> keyboardGrab() override { return grab; }
};
