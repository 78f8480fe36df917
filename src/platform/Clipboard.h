#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// The typed contents of the clipboard: each MIME type with its data, in the
// order the owner offered them. Empty for an empty clipboard.
using ClipboardContents = QList<std::pair<QString, QByteArray>>;

// The system clipboard. Main thread only. The owner of what is written keeps
// serving it to other applications from the main event loop, so nothing here
// may be waited for by blocking that loop.
class Clipboard
{
public:
    enum class Visibility {
        normal,
        concealed, // marked so that clipboard managers do not record it
    };

    virtual ~Clipboard() = default;

    // Everything the clipboard holds now, pseudo-types left out. Another
    // application answers for what it holds: one that does not answer in
    // time contributes what it gave by then.
    virtual ClipboardContents snapshot() = 0;

    // Starts reading the contents in the background, so that a snapshot taken
    // a while later (when a dictation ends) finds them ready.
    virtual void prefetch() {}

    // Replaces the contents with `contents`; empty contents leave the
    // clipboard empty. False when the clipboard could not be taken.
    virtual bool restore(const ClipboardContents& contents) = 0;

    // Replaces the contents with plain text. False when the clipboard could
    // not be taken.
    virtual bool setText(const QString& text, Visibility visibility) = 0;

    // Grows with every change of the contents, by this program or another.
    virtual quint64 changeCount() const = 0;
};
