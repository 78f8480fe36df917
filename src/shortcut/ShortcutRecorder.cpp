#include "shortcut/ShortcutRecorder.h"

#include "shortcut/HotkeyMonitor.h"
#include "shortcut/StoredKeyCodes.h"

namespace {

// Control, Option, Shift and Command on either side; Fn is not one of them.
constexpr ModifierKeys kSideBits{0xFF};

std::optional<QString> nonEmpty(const QString& text)
{
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

} // namespace

ShortcutRecorder::ShortcutRecorder(HotkeyMonitor& hotkey, const Shortcut& shortcut, const PlatformVocabulary& words,
                                   QObject* parent)
    : QObject(parent), m_hotkey(hotkey), m_words(words), m_shortcut(shortcut)
{}

ShortcutRecorder::~ShortcutRecorder()
{
    if (m_recording)
        m_hotkey.setPaused(false);
}

void ShortcutRecorder::setShortcut(const Shortcut& shortcut)
{
    if (m_shortcut == shortcut)
        return;
    m_shortcut = shortcut;
    Q_EMIT changed();
}

QString ShortcutRecorder::title() const
{
    if (!m_recording)
        return m_shortcut.label(m_words);
    if (m_peak.isEmpty())
        return QStringLiteral("Press your shortcut…");
    return Shortcut{std::nullopt, std::nullopt, m_peak}.label(m_words);
}

QString ShortcutRecorder::caption() const
{
    return m_recording ? QStringLiteral("Esc to cancel") : QString();
}

void ShortcutRecorder::toggle()
{
    if (m_recording) {
        stopRecording();
        return;
    }
    m_hint.reset();
    m_peak = {};
    setRecording(true);
}

void ShortcutRecorder::stopRecording()
{
    if (!m_recording)
        return;
    m_peak = {};
    setRecording(false);
}

void ShortcutRecorder::keyDown(quint16 keyCode, ModifierKeys held, const QString& characters)
{
    if (!m_recording)
        return;
    const bool noModifier = !held.intersects(kSideBits);
    if (keyCode == StoredKeyCodes::escape && noModifier) {
        stopRecording();
        return;
    }
    if (noModifier && !StoredKeyCodes::isFunctionKey(keyCode)) {
        m_hint = nonEmpty(m_words.modifierHint);
        m_peak = {};
        Q_EMIT changed();
        return;
    }
    commit(Shortcut{keyCode, Shortcut::keyName(keyCode, characters, m_words), Shortcut::kindsOf(held)});
}

void ShortcutRecorder::modifiersChanged(ModifierKeys held)
{
    if (!m_recording)
        return;
    if (held.isEmpty()) {
        if (!m_peak.isEmpty())
            commit(Shortcut{std::nullopt, std::nullopt, m_peak});
        return;
    }
    const ModifierKeys peak = m_peak | held;
    if (peak == m_peak)
        return;
    m_peak = peak;
    Q_EMIT changed();
}

void ShortcutRecorder::setRecording(bool recording)
{
    m_recording = recording;
    m_hotkey.setPaused(recording);
    Q_EMIT changed();
}

void ShortcutRecorder::commit(const Shortcut& shortcut)
{
    m_peak = {};
    m_shortcut = shortcut;
    const bool fnAlone = shortcut.isModifierOnly() && shortcut.modifiers == ModifierKeys::fn;
    m_hint = fnAlone ? nonEmpty(m_words.fnKeyHint) : std::nullopt;
    // Holding AltGr to type "@" would start a dictation.
    const ModifierKeys typing = shortcut.modifiers & m_hotkey.keyboardTap().typingModifiers();
    if (shortcut.isModifierOnly() && !typing.isEmpty())
        m_hint = m_words.typingModifierHint.arg(Shortcut{std::nullopt, std::nullopt, typing}.label(m_words));
    setRecording(false);
    Q_EMIT recorded(shortcut);
}
