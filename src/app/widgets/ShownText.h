#pragma once

#include <QString>

// No row or card shows more than a few lines, so no more than this much of a
// dictation is laid out: laying out an entry of megabytes whole froze the app.
inline constexpr qsizetype kShownCharacters = 2000;

inline QString shownPart(const QString& text)
{
    return text.left(kShownCharacters);
}
