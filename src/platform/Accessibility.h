#pragma once

#include <QtGlobal>

#include <optional>

// The accessibility interface through which other applications describe
// their windows. Main thread only; each call is bounded by a short time-out,
// so an application that does not answer costs at most that.
class Accessibility
{
public:
    virtual ~Accessibility() = default;

    // The character just before the caret in the focused text element of the
    // application with process id `pid`. Absent when that application does
    // not answer, has no focused text, the caret is at the start, or the
    // element is a password field (its bullets are no text).
    virtual std::optional<char32_t> characterBeforeCaret(qint32 pid) = 0;

    // Whether the focused element of the application with process id `pid`
    // is a password field. False when that application does not answer.
    virtual bool isPasswordFieldFocused(qint32 pid) = 0;
};
