#include "text/TextInserter.h"

#include "platform/Accessibility.h"
#include "platform/KeystrokePoster.h"
#include "platform/Workspace.h"
#include "storage/VellLog.h"

#include <QTimer>

#include <string_view>
#include <utility>

namespace {

// No space goes after these when inserting.
constexpr std::u16string_view kOpening = u"([{\"'\u201C\u2018";
// No space goes before these when joining.
constexpr std::u16string_view kClosing = u",.!?;:)\u2026%";

// Window classes (compared without case) of terminals, whose Ctrl+V is a
// control character rather than a paste.
constexpr std::u16string_view kTerminalClasses[] = {
    u"xterm",         u"uxterm",         u"urxvt",     u"rxvt",        u"gnome-terminal", u"gnome-terminal-server",
    u"konsole",       u"alacritty",      u"kitty",     u"foot",        u"footclient",     u"tilix",
    u"terminator",    u"xfce4-terminal", u"st",        u"st-256color", u"wezterm",        u"org.wezfurlong.wezterm",
    u"mate-terminal", u"lxterminal",     u"qterminal", u"terminology", u"sakura",         u"kgx",
};

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
                           QObject* parent)
    : QObject(parent), m_workspace(workspace), m_clipboard(clipboard), m_accessibility(accessibility), m_poster(poster),
      m_log(log ? *log : VellLog::insert())
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

InsertOutcome TextInserter::insert(const QString& text, qint32 pid)
{
    const std::optional<RunningApplication> front = m_workspace.frontmostApplication();
    // An unknown process (0) cannot be told from another unknown one: better
    // on the clipboard than in the wrong window.
    if (!front || front->pid != pid || pid == 0) {
        m_log.info(QStringLiteral("frontmost app changed; not pasting"));
        return {InsertOutcome::Kind::frontmostChanged, front ? front->name : std::nullopt};
    }
    // Keystrokes would go to the grabbing program, which may be a password prompt.
    if (const std::optional<KeyboardGrab> grab = m_workspace.keyboardGrab()) {
        const std::optional<QString> owner = grab->owner ? grab->owner->name : std::nullopt;
        m_log.info(
            QStringLiteral("keyboard held by %1; not pasting").arg(owner.value_or(QStringLiteral("an unknown app"))));
        return {InsertOutcome::Kind::keyboardGrabbed, owner};
    }

    QString delivered = text;
    // Asking the application costs a round trip; skip it where the answer cannot matter.
    if (!text.isEmpty() && !isSpaceOrPunctuation(firstCodePoint(text)) &&
        needsLeadingSpace(text, m_accessibility.characterBeforeCaret(pid)))
        delivered.prepend(u' ');

    // While our previous text is still on the clipboard, what lies beneath it is what the user had.
    const bool ownTextShowing = m_restoreTimer.isActive() && m_clipboard.changeCount() == m_ownCount;
    const ClipboardContents previous = ownTextShowing ? m_previous : m_clipboard.snapshot();
    if (!m_clipboard.setText(delivered, Clipboard::Visibility::concealed)) {
        m_log.error(QStringLiteral("couldn't put the text on the clipboard"));
        m_restoreTimer.stop();
        m_clipboard.restore(previous);
        return {InsertOutcome::Kind::pasteFailed, std::nullopt};
    }
    const quint64 ownCount = m_clipboard.changeCount();
    const bool toTerminal = front->windowClass && isTerminal(*front->windowClass);
    if (!m_poster.paste(toTerminal)) {
        m_log.error(QStringLiteral("couldn't post the paste keystroke"));
        m_restoreTimer.stop();
        m_clipboard.restore(previous);
        return {InsertOutcome::Kind::pasteFailed, std::nullopt};
    }
    m_log.info(QStringLiteral("pasted %1 characters%2%3")
                   .arg(delivered.size())
                   .arg(delivered.size() > text.size() ? QStringLiteral(" with a leading space") : QString())
                   .arg(toTerminal ? QStringLiteral(" with the terminal chord") : QString()));

    m_ownCount = ownCount;
    m_previous = previous;
    m_restoreTimer.start();
    return {InsertOutcome::Kind::pasted, std::nullopt};
}

void TextInserter::checkRestore()
{
    const ClipboardContents previous = std::exchange(m_previous, {});
    if (m_clipboard.changeCount() != m_ownCount) {
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

bool TextInserter::isTerminal(const QString& windowClass)
{
    for (std::u16string_view terminal : kTerminalClasses)
        if (QStringView(windowClass).compare(QStringView(terminal), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}
