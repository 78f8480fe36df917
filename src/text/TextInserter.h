#pragma once

#include "platform/Clipboard.h"
#include "platform/KeystrokePoster.h"
#include "platform/Workspace.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <utility>

class Accessibility;
class VellLog;
class Workspace;

// What became of one insertion.
struct InsertOutcome
{
    enum class Kind {
        pasted,           // the text is on the clipboard and the paste chord was posted
        frontmostChanged, // another application (or none) is in front now; nothing was touched
        keyboardGrabbed,  // another program holds the keyboard (a password prompt); nothing was touched
        pasteFailed,      // the text could not be placed or the chord not posted; the clipboard is as it was
        pasteNotAllowed,  // the desktop does not let this program post keystrokes; nothing was touched
    };

    Kind kind = Kind::pasted;
    // frontmostChanged: the application in front now; keyboardGrabbed: the
    // grab's likely holder. Absent when there is none or it has no name.
    std::optional<QString> appName;

    bool operator==(const InsertOutcome&) const = default;
};

// Delivers finished text into the application the user was working in, the
// way a user would: the text goes on the clipboard (concealed from clipboard
// managers), the paste chord is posted, and a moment later the clipboard gets
// back what it held before, unless something else has changed it meanwhile.
// An insertion made while the previous one still waits for its restore takes
// over that wait and the contents it will put back, so quick insertions in a
// row return the user's own clipboard, not an earlier dictation. Destroying
// the inserter drops a pending restore. Main thread only; the ports must
// outlive it.
class TextInserter : public QObject
{
    Q_OBJECT

public:
    // The application to receive a dictation, captured when it starts.
    struct Target
    {
        qint32 pid = 0;
        std::optional<QString> appName;
        std::optional<QString> windowClass;

        bool operator==(const Target&) const = default;
    };

    static constexpr std::chrono::milliseconds kRestoreDelay{1500};
    static constexpr std::chrono::milliseconds kCheckedAheadFor{30};

    // Lines go to `log`, or to the "insert" category when none is given.
    // `selection` is the primary selection, for terminals that paste from it;
    // null where the desktop has none.
    TextInserter(Workspace& workspace, Clipboard& clipboard, Accessibility& accessibility, KeystrokePoster& poster,
                 std::chrono::milliseconds restoreDelay = kRestoreDelay, const VellLog* log = nullptr,
                 Clipboard* selection = nullptr, QObject* parent = nullptr);

    // The application in front now; absent when there is none.
    std::optional<Target> captureTarget() const;

    // Starts reading what the clipboard holds, so that the insertion at the
    // end of a dictation need not wait for another application's answer.
    void prepare()
    {
        m_clipboard.prefetch();
        m_caret.reset();
    }

    // Reads the character before the caret in the application with process
    // id `pid` now, while the transcript is still being finished, so that
    // insert() need not ask once the text is ready.
    void readCaret(qint32 pid);

    // Asks now what a paste asks first, the application in front and a grab
    // of the keyboard, so that a service answering right after the end of the
    // audio finds it answered. A paste within kCheckedAheadFor goes by these
    // answers: nobody switches windows faster.
    void checkAhead();
    // The same for the keys the user holds, a quicker question.
    void checkKeysAhead() { m_poster.preparePaste(); }

    // Pastes `text` into the application with process id `pid`, which must
    // still be in front. Returns without waiting for the restore.
    InsertOutcome insert(const QString& text, qint32 pid);

    // `piece`, trimmed, appended to `base`, with one space between them
    // unless `base` ends in whitespace or `piece` starts with closing
    // punctuation. A blank piece leaves `base` as it is.
    static QString joinFragment(const QString& piece, const QString& base);

    // Whether `text` inserted right after `before` needs a space in front.
    static bool needsLeadingSpace(const QString& text, std::optional<char32_t> before);

    // The keys that paste in an application with this window class:
    // terminals have their own.
    static PasteKeys pasteKeysFor(const QString& windowClass);

Q_SIGNALS:
    // The delayed check after a paste has run. `restored` is false when it
    // left newer contents alone, or could not take the clipboard back.
    void restoreChecked(bool restored);

private:
    // Our text on a clipboard: its change count once the text was there, and
    // what the restore puts back.
    struct Loan
    {
        quint64 ownCount = 0;
        ClipboardContents previous;
    };

    // Puts `text` on `board`; none when it could not (the board is then as it was).
    std::optional<Loan> lend(Clipboard& board, const Loan& current, const QString& text);
    InsertOutcome failed();
    void giveBackSelection();
    void checkRestore();

    Workspace& m_workspace;
    Clipboard& m_clipboard;
    Accessibility& m_accessibility;
    KeystrokePoster& m_poster;
    const VellLog& m_log;
    QTimer m_restoreTimer;
    Clipboard* m_selection;
    Loan m_clipboardLoan;
    // What checkAhead() asked, and when.
    std::optional<std::pair<std::future<DesktopState>, QElapsedTimer>> m_checkedAhead;
    // What readCaret() found: the process and the character before its caret.
    std::optional<std::pair<qint32, std::optional<char32_t>>> m_caret;
    std::optional<Loan> m_selectionLoan; // only while a terminal's paste waits for its restore
};
