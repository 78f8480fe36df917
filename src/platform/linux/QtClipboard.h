#pragma once

#include "platform/Clipboard.h"

#include <QClipboard>
#include <QObject>

// The clipboard, or the primary selection, through Qt Gui. Contents of
// another application are read through Qt, which waits for that
// application's answer with a time-out of its own; what this program writes
// is served by Qt from the main event loop. The change count follows Qt's
// change notices for that one mode.
class QtClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    // The type and value that clipboard managers honour to leave contents unrecorded.
    static constexpr char kConcealedType[] = "x-kde-passwordManagerHint";
    static constexpr char kConcealedValue[] = "secret";

    explicit QtClipboard(QClipboard& clipboard, QClipboard::Mode mode = QClipboard::Clipboard,
                         QObject* parent = nullptr);

    ClipboardContents snapshot() override;
    bool restore(const ClipboardContents& contents) override;
    bool setText(const QString& text, Visibility visibility) override;
    quint64 changeCount() const override { return m_changeCount; }

private:
    bool owns() const;

    QClipboard& m_clipboard;
    const QClipboard::Mode m_mode;
    quint64 m_changeCount = 0;
};
