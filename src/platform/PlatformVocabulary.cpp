#include "platform/PlatformVocabulary.h"

#include "shortcut/StoredKeyCodes.h"

namespace {

QString s(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QHash<quint16, QString> functionKeyNames()
{
    QHash<quint16, QString> names;
    for (size_t i = 0; i < StoredKeyCodes::functionKeys.size(); ++i)
        names.insert(StoredKeyCodes::functionKeys[i], QStringLiteral("F%1").arg(i + 1));
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
        v.yourComputer = s("Your Mac");
        v.backToYourComputer = s("Back to your Mac");
        v.thisComputer = s("this Mac");
        v.keyStoreName = s("this Mac's Keychain");
        v.trayName = s("the menu bar");
        v.revealInFileManager = s("Show in Finder");
        v.modifierHint = s("Add a modifier (⌃ ⌥ ⇧ ⌘), use an F-key, or use modifiers alone.");
        v.fnKeyHint =
            s("Set System Settings → Keyboard → “Press 🌐 key to” → Do Nothing, or the emoji picker opens too.");
        v.cancelHint = s("Press Esc while dictating to cancel.");
        v.setupFnHint = s("So Fn doesn't also open the emoji picker or start macOS dictation, set **System Settings → "
                          "Keyboard → Press 🌐 key to** to **Do Nothing**.");
        v.keyboardSettingsAddress = s("x-apple.systempreferences:com.apple.Keyboard-Settings.extension");
        v.microphoneSettingsAddress = s("x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
        v.keyboardAccessOffHint = s("Turn on Vell in System Settings → Privacy & Security → Accessibility.");
        v.openPrivacySettings = s("Open System Settings");
        v.shortcutBlockedWarning = s("Allow Accessibility in Settings so the shortcut works.");
        v.keyboardGrabWarning = s("The shortcut is paused while %1 has secure input on, as password fields do.");
        v.unknownProgram = s("an app");
        v.passwordFieldNotice = s("The shortcut is paused in password fields.");
        v.typingModifierHint = s("%1 types characters in your keyboard layout, so typing with it would start a "
                                 "dictation. Pick another key.");
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
        v.yourComputer = s("Your computer");
        v.backToYourComputer = s("Back to your computer");
        v.thisComputer = s("this computer");
        v.keyStoreName = s("your desktop's keyring");
        v.trayName = s("the system tray");
        v.revealInFileManager = s("Open Containing Folder");
        v.cancelHint = s("Press Esc while dictating to cancel.");
        v.bindCommandHint = s("You can also bind a key to **vell toggle** in your desktop's keyboard settings.");
        v.modifierHint = s("Add a modifier (Ctrl, Alt, Shift or Super), use an F-key, or use modifiers alone.");
        // Fn never reaches the desktop as a key, so it cannot be recorded: no Fn advice.
        v.keyboardAccessOffHint =
            s("Log in to an X11 session, or a Wayland session with XWayland, so Vell can see the keyboard.");
        v.openPrivacySettings = s("Check Again");
        v.shortcutBlockedWarning =
            s("The shortcut can't work until Vell can watch the keyboard, which needs an X11 session.");
        v.keyboardGrabWarning = s("The shortcut is paused while %1 holds the whole keyboard, as password prompts do.");
        v.unknownProgram = s("another program");
        v.passwordFieldNotice = s("The shortcut is paused in password fields.");
        v.typingModifierHint = s("%1 types characters in your keyboard layout, so typing with it would start a "
                                 "dictation. Pick another key.");
        return v;
    }();
    return table;
}

const PlatformVocabulary& PlatformVocabulary::forLinuxWayland()
{
    static const PlatformVocabulary table = [] {
        PlatformVocabulary v = forLinux();
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        v.keyboardAccessOffHint =
            s("On Wayland only your compositor sees every key, so bind your shortcut there: in the compositor's "
              "keyboard settings, bind it to \"vell press\" when it goes down and \"vell release\" when it comes "
              "up, or to \"vell toggle\". To hold a modifier alone instead, Vell can read the keyboards once you "
              "join the input group (sudo usermod -aG input $USER, then log in again), but every member of that "
              "group can read every keystroke, passwords included.");
        v.shortcutBlockedWarning =
            s("Vell can't read the keyboard here: your shortcut works through your compositor's bindings.");
        v.cancelHint = s("To cancel while dictating, bind a key to **vell cancel**.");
        v.bindCommandHint = s("Bind keys in your desktop's keyboard settings: **vell press** and **vell release** "
                              "for holding, or **vell toggle**.");
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
