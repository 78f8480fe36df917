#pragma once

#include "platform/Clipboard.h"

#include <QClipboard>
#include <QObject>

class XcbConnection;

#include <future>
#include <memory>
#include <optional>

// The clipboard, or the primary selection, through Qt Gui. Contents of
// another application are read by X11ClipboardReader, whose deadlines bound
// the wait for an application that does not answer (Qt would wait five
// seconds for each type); a prefetch reads them on a thread of its own, again
// whenever they change, so the snapshot after a dictation finds them ready.
// What this program writes is served by Qt from the main event loop. The
// change count follows Qt's change notices for that one mode.
class QtClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    // The type and value that clipboard managers honour to leave contents unrecorded.
    static constexpr char kConcealedType[] = "x-kde-passwordManagerHint";
    static constexpr char kConcealedValue[] = "secret";

    explicit QtClipboard(QClipboard& clipboard, QClipboard::Mode mode = QClipboard::Clipboard,
                         QObject* parent = nullptr);
    ~QtClipboard() override;

    ClipboardContents snapshot() override;
    void prefetch() override;
    bool restore(const ClipboardContents& contents) override;
    bool setText(const QString& text, Visibility visibility) override;
    quint64 changeCount() const override { return m_changeCount; }

private:
    struct Prefetch
    {
        quint64 changeCount = 0; // the contents it reads are those of this count
        std::future<ClipboardContents> contents;
    };

    bool owns() const;
    // Also asks the server, which refuses a request older than the last owner's.
    bool ownsForSure() const;
    ClipboardContents ownContents() const;
    const char* selectionName() const;

    QClipboard& m_clipboard;
    const QClipboard::Mode m_mode;
    quint64 m_changeCount = 0;
    std::optional<Prefetch> m_prefetch;
    // For asking the server who owns the selection, kept across pastes.
    mutable std::unique_ptr<XcbConnection> m_serverView;
    // The window the server last said is this process's owner: Qt keeps one.
    mutable std::optional<uint32_t> m_ownerWindow;
};
