#pragma once

#include "platform/SessionEvents.h"

// Session events the test emits by hand.
class FakeSessionEvents final : public SessionEvents
{
    Q_OBJECT

public:
    using SessionEvents::SessionEvents;

    void wake() { Q_EMIT wokeUp(QStringLiteral("test.wake")); }
    void unlock() { Q_EMIT screenUnlocked(QStringLiteral("test.unlock")); }
    void sleep() { Q_EMIT goingToSleep(); }
    void lock() { Q_EMIT screenLocked(); }
};
