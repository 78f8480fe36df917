#pragma once

#include "platform/Permissions.h"
#include "platform/PlatformVocabulary.h"
#include "shortcut/CompositorBindings.h"
#include "storage/DebugLogFile.h"

#include <QDesktopServices>
#include <QSystemTrayIcon>
#include <QUrl>

#include <chrono>
#include <functional>

class KeyStore;
class KeyboardTap;
class DictationController;
class MicrophonePermission;
class Clipboard;
class QSettings;

// What the windows reach the rest of the program through. Everything
// referenced must outlive the windows.
struct WindowServices
{
    DictationController& controller;
    KeyboardTap& keyboardTap;
    MicrophonePermission& microphone;
    Clipboard& clipboard;
    QSettings& preferences;
    // Where keys are kept, for telling the user and unlocking a locked
    // keyring on request; absent when unknown.
    KeyStore* keys = nullptr;
    const PlatformVocabulary* words = &PlatformVocabulary::native();
    std::chrono::milliseconds permissionPoll = Permissions::kPollInterval;
    // Opens a web page, a settings address or a folder; false when nothing could.
    std::function<bool(const QUrl&)> openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    QString debugLogFolder = DebugLogFile::defaultFolder();
    // Whether the desktop shows Vell's tray icon; without it, the settings
    // window says how to come back.
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // On a compositor that only sees the keyboard itself: which, so the
    // windows show the lines that bind the shortcut there, calling `vellCommand`.
    std::optional<CompositorBindings::Compositor> compositor = std::nullopt;
    QString vellCommand = QStringLiteral("vell");
    // Where the desktop binds the shortcut for Vell: what to tell the user
    // about a shortcut it cannot bind; none when it can.
    std::function<std::optional<QString>(const Shortcut&)> shortcutAdvice = [](const Shortcut&) {
        return std::optional<QString>();
    };
};
