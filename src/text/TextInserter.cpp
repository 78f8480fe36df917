#include "text/TextInserter.h"

#include "platform/Accessibility.h"
#include "platform/KeystrokePoster.h"
#include "platform/Workspace.h"
#include "storage/VellLog.h"

#include <QTimer>

#include <algorithm>
#include <span>
#include <string_view>
#include <utility>

namespace {

// No space goes after these when inserting.
constexpr std::u16string_view kOpening = u"([{\"'\u201C\u2018";
// No space goes before these when joining.
constexpr std::u16string_view kClosing = u",.!?;:)\u2026%";

// Window classes (compared without case) of terminals, whose Ctrl+V is a
// control character rather than a paste. These paste the clipboard with
// Ctrl+Shift+V…
constexpr std::u16string_view kCtrlShiftVTerminals[] = {
    u"gnome-terminal",
    u"gnome-terminal-server",
    u"konsole",
    u"alacritty",
    u"kitty",
    u"foot",
    u"footclient",
    u"tilix",
    u"terminator",
    u"xfce4-terminal",
    u"st",
    u"st-256color",
    u"wezterm",
    u"org.wezfurlong.wezterm",
    u"mate-terminal",
    u"lxterminal",
    u"qterminal",
    u"terminology",
    u"sakura",
    u"kgx",
};
// …and these bind nothing to it: Shift+Insert pastes the primary selection.
constexpr std::u16string_view kShiftInsertTerminals[] = {u"xterm", u"uxterm", u"urxvt", u"rxvt", u"rxvt-unicode"};

bool classIsOneOf(const QString& windowClass, std::span<const std::u16string_view> classes)
{
    return std::any_of(classes.begin(), classes.end(), [&](std::u16string_view name) {
        return QStringView(windowClass).compare(QStringView(name), Qt::CaseInsensitive) == 0;
    });
}

QString pasteKeysName(PasteKeys keys)
{
    switch (keys) {
    case PasteKeys::ctrlV:
        return QStringLiteral("Ctrl+V");
    case PasteKeys::ctrlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteKeys::shiftInsert:
        return QStringLiteral("Shift+Insert and the primary selection");
    }
    return {};
}

bool isOneOf(std::u16string_view set, char32_t c)
{
    return c <= 0xFFFF && set.find(char16_t(c)) != std::u16string_view::npos;
}

// The first code point, whole where it takes two UTF-16 units.
char32_t firstCodePoint(const QString& text)
{
    const QChar first = text.front();
    if (first.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate())
        return QChar::surrogateToUcs4(first, text.at(1));
    return first.unicode();
}

bool isSpaceOrPunctuation(char32_t c)
{
    return QChar::isSpace(c) || QChar::isPunct(c);
}

} // namespace

TextInserter::TextInserter(Workspace& workspace, Clipboard& clipboard, Accessibility& accessibility,
                           KeystrokePoster& poster, std::chrono::milliseconds restoreDelay, const VellLog* log,
                           Clipboard* selection, QObject* parent)
    : QObject(parent), m_workspace(workspace), m_clipboard(clipboard), m_accessibility(accessibility), m_poster(poster),
      m_log(log ? *log : VellLog::insert()), m_selection(selection)
{
    m_restoreTimer.setSingleShot(true);
    m_restoreTimer.setInterval(restoreDelay);
    connect(&m_restoreTimer, &QTimer::timeout, this, &TextInserter::checkRestore);
}

std::optional<TextInserter::Target> TextInserter::captureTarget() const
{
    const std::optional<RunningApplication> front = m_workspace.frontmostApplication();
    if (!front)
        return std::nullopt;
    return Target{front->pid, front->name, front->windowClass};
}

void TextInserter::readCaret(qint32 pid)
{
    m_caret.emplace(pid, m_accessibility.characterBeforeCaret(pid));
}

void TextInserter::checkAhead()
{
    m_checkedAhead.emplace(m_workspace.askState(), QElapsedTimer());
    m_checkedAhead->second.start();
}

InsertOutcome TextInserter::insert(const QString& text, qint32 pid)
{
    // Its answer comes while the checks below run.
    m_poster.preparePaste();
    std::optional<std::pair<std::future<DesktopState>, QElapsedTimer>> ahead =
        std::exchange(m_checkedAhead, std::nullopt);
    const DesktopState desktop =
        ahead && ahead->second.elapsed() < kCheckedAheadFor.count() ? ahead->first.get() : m_workspace.state();
    const std::optional<RunningApplication>& front = desktop.front;
    // An unknown process (0) cannot be told from another unknown one: better
    // on the clipboard than in the wrong window.
    if (!front || front->pid != pid || pid == 0) {
        m_log.info(QStringLiteral("frontmost app changed; not pasting"));
        return {InsertOutcome::Kind::frontmostChanged, front ? front->name : std::nullopt};
    }
    if (m_poster.access() != KeystrokePoster::Access::granted) {
        m_log.info(QStringLiteral("the desktop doesn't let Vell post keystrokes; not pasting"));
        return {InsertOutcome::Kind::pasteNotAllowed, std::nullopt};
    }
    // Keystrokes would go to the grabbing program, which may be a password prompt.
    if (const std::optional<KeyboardGrab>& grab = desktop.grab) {
        const std::optional<QString> owner = grab->owner ? grab->owner->name : std::nullopt;
        m_log.info(
            QStringLiteral("keyboard held by %1; not pasting").arg(owner.value_or(QStringLiteral("an unknown app"))));
        return {InsertOutcome::Kind::keyboardGrabbed, owner};
    }

    QString delivered = text;
    // Asking the application costs a round trip; skip it where the answer cannot matter.
    if (!text.isEmpty() && !isSpaceOrPunctuation(firstCodePoint(text))) {
        const std::optional<char32_t> before =
            m_caret && m_caret->first == pid ? m_caret->second : m_accessibility.characterBeforeCaret(pid);
        if (needsLeadingSpace(text, before))
            delivered.prepend(u' ');
    }
    m_caret.reset();

    const PasteKeys keys = pasteKeysFor(front->windowClass.value_or(QString()));
    std::optional<Loan> clipboard = lend(m_clipboard, m_clipboardLoan, delivered);
    if (!clipboard) {
        m_log.error(QStringLiteral("couldn't put the text on the clipboard"));
        return failed();
    }
    // xterm and rxvt paste the primary selection, so the text goes there too.
    std::optional<Loan> selection;
    if (keys == PasteKeys::shiftInsert) {
        selection = m_selection ? lend(*m_selection, m_selectionLoan.value_or(Loan{}), delivered) : std::nullopt;
        if (!selection) {
            m_log.error(QStringLiteral("couldn't put the text in the primary selection"));
            m_clipboard.restore(clipboard->previous);
            return failed();
        }
    }
    if (!m_poster.paste(keys)) {
        m_log.error(QStringLiteral("couldn't post the paste keystroke"));
        m_clipboard.restore(clipboard->previous);
        if (selection)
            m_selection->restore(selection->previous);
        return failed();
    }
    m_log.info(QStringLiteral("pasted %1 characters%2 with %3")
                   .arg(delivered.size())
                   .arg(delivered.size() > text.size() ? QStringLiteral(" with a leading space") : QString())
                   .arg(pasteKeysName(keys)));

    m_clipboardLoan = std::move(*clipboard);
    if (selection)
        m_selectionLoan = std::move(selection);
    m_restoreTimer.start();
    return {InsertOutcome::Kind::pasted, std::nullopt};
}

std::optional<TextInserter::Loan> TextInserter::lend(Clipboard& board, const Loan& current, const QString& text)
{
    // While our previous text is still there, what lies beneath it is what the user had.
    const bool ownTextShowing = m_restoreTimer.isActive() && board.changeCount() == current.ownCount;
    ClipboardContents previous = ownTextShowing ? current.previous : board.snapshot();
    if (!board.setText(text, Clipboard::Visibility::concealed)) {
        board.restore(previous);
        return std::nullopt;
    }
    return Loan{board.changeCount(), std::move(previous)};
}

InsertOutcome TextInserter::failed()
{
    // The clipboard is back as the user had it; so is the selection.
    m_restoreTimer.stop();
    giveBackSelection();
    return {InsertOutcome::Kind::pasteFailed, std::nullopt};
}

void TextInserter::giveBackSelection()
{
    const std::optional<Loan> loan = std::exchange(m_selectionLoan, std::nullopt);
    if (loan && m_selection && m_selection->changeCount() == loan->ownCount)
        m_selection->restore(loan->previous);
}

void TextInserter::checkRestore()
{
    giveBackSelection();

    const ClipboardContents previous = std::exchange(m_clipboardLoan.previous, {});
    if (m_clipboard.changeCount() != m_clipboardLoan.ownCount) {
        m_log.info(QStringLiteral("clipboard changed since the paste; left as it is"));
        Q_EMIT restoreChecked(false);
        return;
    }
    const bool restored = m_clipboard.restore(previous);
    if (!restored)
        m_log.error(QStringLiteral("Couldn't restore the clipboard"));
    Q_EMIT restoreChecked(restored);
}

QString TextInserter::joinFragment(const QString& piece, const QString& base)
{
    const QString trimmed = piece.trimmed();
    if (trimmed.isEmpty())
        return base;
    if (base.isEmpty())
        return trimmed;
    if (base.back().isSpace() || isOneOf(kClosing, trimmed.front().unicode()))
        return base + trimmed;
    return base + u' ' + trimmed;
}

bool TextInserter::needsLeadingSpace(const QString& text, std::optional<char32_t> before)
{
    if (!before || text.isEmpty() || isSpaceOrPunctuation(firstCodePoint(text)))
        return false;
    return !QChar::isSpace(*before) && !isOneOf(kOpening, *before);
}

PasteKeys TextInserter::pasteKeysFor(const QString& windowClass)
{
    if (classIsOneOf(windowClass, kShiftInsertTerminals))
        return PasteKeys::shiftInsert;
    if (classIsOneOf(windowClass, kCtrlShiftVTerminals))
        return PasteKeys::ctrlShiftV;
    return PasteKeys::ctrlV;
}
