#pragma once

#include <QString>

#include <optional>

// What an application holds, read over the accessibility bus from the
// application with process id `pid`. Absent when it shows no such element
// or does not answer within a few seconds.

// The whole text of the focused editable element.
std::optional<QString> focusedText(qint64 pid);

// The paragraphs of the first document showing, one line each; a word
// processor marks its paragraphs focused only once the caret has moved.
std::optional<QString> documentText(qint64 pid);
