#include "platform/PlatformVocabulary.h"

#include "shortcut/KeyCodes.h"

namespace {

QString s(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QHash<quint16, QString> functionKeyNames()
{
    QHash<quint16, QString> names;
    for (size_t i = 0; i < KeyCodes::functionKeys.size(); ++i)
        names.insert(KeyCodes::functionKeys[i], QStringLiteral("F%1").arg(i + 1));
    return names;
}

} // namespace

const PlatformVocabulary& PlatformVocabulary::forMacOS()
{
    static const PlatformVocabulary table = [] {
        PlatformVocabulary v;
        v.kinds = {{
            {s("⌃"), s("Left ⌃"), s("Right ⌃")},
            {s("⌥"), s("Left ⌥"), s("Right ⌥")},
            {s("⇧"), s("Left ⇧"), s("Right ⇧")},
            {s("⌘"), s("Left ⌘"), s("Right ⌘")},
        }};
        v.fn = s("🌐 Fn");
        v.modifierShortcutSeparator = s(" + ");
        v.keyNames = functionKeyNames();
        const std::pair<quint16, const char*> named[] = {
            {49, "Space"}, {36, "↩"},  {48, "⇥"},  {51, "⌫"},  {117, "⌦"}, {53, "⎋"},  {123, "←"},
            {124, "→"},    {125, "↓"}, {126, "↑"}, {115, "↖"}, {119, "↘"}, {116, "⇞"}, {121, "⇟"},
        };
        for (const auto& [code, name] : named)
            v.keyNames.insert(code, s(name));
        v.pasteChord = s("⌘V");
        v.microphoneOffNotice =
            s("Microphone access is off: System Settings → Privacy & Security → Microphone → Vell.");
        return v;
    }();
    return table;
}

const PlatformVocabulary& PlatformVocabulary::forLinux()
{
    static const PlatformVocabulary table = [] {
        PlatformVocabulary v;
        v.kinds = {{
            {s("Ctrl"), s("Left Ctrl"), s("Right Ctrl")},
            {s("Alt"), s("Left Alt"), s("Right Alt")},
            {s("Shift"), s("Left Shift"), s("Right Shift")},
            {s("Super"), s("Left Super"), s("Right Super")},
        }};
        v.fn = s("Fn");
        v.keyShortcutSeparator = s("+");
        v.modifierShortcutSeparator = s(" + ");
        v.keyNames = functionKeyNames();
        const std::pair<quint16, const char*> named[] = {
            {49, "Space"}, {36, "Enter"}, {48, "Tab"},      {51, "Backspace"},  {117, "Delete"},
            {53, "Esc"},   {123, "Left"}, {124, "Right"},   {125, "Down"},      {126, "Up"},
            {115, "Home"}, {119, "End"},  {116, "Page Up"}, {121, "Page Down"},
        };
        for (const auto& [code, name] : named)
            v.keyNames.insert(code, s(name));
        v.pasteChord = s("Ctrl+V");
        v.microphoneOffNotice =
            s("Microphone access is off: check that the sound server is running and that Vell may use the microphone.");
        return v;
    }();
    return table;
}

const PlatformVocabulary& PlatformVocabulary::native()
{
#ifdef Q_OS_MACOS
    return forMacOS();
#else
    return forLinux();
#endif
}
