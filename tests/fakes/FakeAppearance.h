#pragma once

#include "platform/AppearancePort.h"

#include <QList>

// Records every appearance applied.
class FakeAppearance : public AppearancePort
{
public:
    void apply(AppearanceSetting appearance) override { applied.append(appearance); }

    QList<AppearanceSetting> applied;
};
