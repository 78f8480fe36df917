#pragma once

#include "platform/Clipboard.h"
#include "platform/linux/X11SelectionOwner.h"

#include <QObject>

class XcbConnection;

#include <future>
#include <memory>
#include <optional>

// The clipboard, or the primary selection, on X11. What this program writes
// is served by an X11SelectionOwner from a thread of its own, so other
// applications get it at once whatever the main event loop is doing. Text is
// offered as UTF8_STRING, its MIME names, STRING (Latin-1) and TEXT. Contents
// of another application are read by X11ClipboardReader, whose deadlines
// bound the wait for an application that does not answer; a prefetch reads
// them on a thread of its own, again whenever they change, so the snapshot
// after a dictation finds them ready. The change count grows at once for this
// program's own changes and, on the main thread, for XFixes notices of
// everybody else's.
class X11Clipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    // The type and value that clipboard managers honour to leave contents unrecorded.
    static constexpr char kConcealedType[] = "x-kde-passwordManagerHint";
    static constexpr char kConcealedValue[] = "secret";

    enum class Selection { clipboard, primary };
    using Timings = X11SelectionOwner::Timings;

    explicit X11Clipboard(Selection selection = Selection::clipboard, Timings timings = {}, QObject* parent = nullptr);
    ~X11Clipboard() override;

    ClipboardContents snapshot() override;
    void prefetch() override;
    bool restore(const ClipboardContents& contents) override;
    bool setText(const QString& text, Visibility visibility) override;
    quint64 changeCount() const override { return m_changeCount; }

    // The connection to send the paste keys on, so that setting the
    // clipboard need not wait for the server's answer; none without an X
    // server. See X11SelectionOwner::connectionForKeys().
    std::shared_ptr<XcbConnection> connectionForKeys();

private:
    struct Prefetch
    {
        quint64 changeCount = 0; // the contents it reads are those of this count
        std::future<ClipboardContents> contents;
    };

    bool offer(const ClipboardContents& contents);
    void onNotice(const X11SelectionOwner::Notice& notice);
    bool owns() const;
    const char* selectionName() const;

    const Selection m_selection;
    std::unique_ptr<X11SelectionOwner> m_owner; // none without an X server
    ClipboardContents m_offered;                // what the owner serves
    quint64 m_changeCount = 0;
    std::optional<Prefetch> m_prefetch;
};
