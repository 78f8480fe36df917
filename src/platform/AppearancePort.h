#pragma once

#include "storage/AppearanceSetting.h"

// Switches the application's windows between the desktop's own look and a
// forced light or dark one. Main thread only; takes effect at once.
class AppearancePort
{
public:
    virtual ~AppearancePort() = default;
    virtual void apply(AppearanceSetting appearance) = 0;
};
