#pragma once

#include "platform/PlatformVocabulary.h"
#include "storage/DebugLogFile.h"
#include "storage/Permissions.h"

#include <QDesktopServices>
#include <QUrl>

#include <chrono>
#include <functional>

class KeyStore;
class KeyboardTap;
class MacDictationController;
class MicrophonePermission;
class Pasteboard;
class QSettings;

// What the windows reach the rest of the program through. Everything
// referenced must outlive the windows.
struct WindowServices
{
    MacDictationController& controller;
    KeyboardTap& keyboardTap;
    MicrophonePermission& microphone;
    Pasteboard& pasteboard;
    QSettings& preferences;
    // Where keys are kept, for telling the user; absent when unknown.
    const KeyStore* keys = nullptr;
    const PlatformVocabulary* words = &PlatformVocabulary::native();
    std::chrono::milliseconds permissionPoll = Permissions::kPollInterval;
    // Opens a web page, a settings address or a folder; false when nothing could.
    std::function<bool(const QUrl&)> openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    QString debugLogFolder = DebugLogFile::defaultFolder();
};
