#pragma once

#include "platform/Accessibility.h"

#include <QList>

// Answers with the character the test sets, and records who was asked.
class FakeAccessibility final : public Accessibility
{
public:
    std::optional<char32_t> before;
    bool passwordField = false;
    QList<qint32> askedPids;

    std::optional<char32_t> characterBeforeCaret(qint32 pid) override
    {
        askedPids.append(pid);
        return before;
    }
    bool isPasswordFieldFocused(qint32) override { return passwordField; }
};
