#pragma once

#include "control/DictationController.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAppearance.h"
#include "fakes/FakeAudioBackend.h"
#include "fakes/FakeClipboard.h"
#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeKeystrokePoster.h"
#include "fakes/FakeMicrophonePermission.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSessionEvents.h"
#include "fakes/FakeSoundPlayer.h"
#include "fakes/FakeWorkspace.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/HistoryStore.h"
#include "storage/KeyStore.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>

// Everything a dictation controller needs: fakes of the desktop's services
// and real settings, keys and history in a temporary folder.
struct FakeDesktop
{
    DictationPlatform platform()
    {
        return {tap,        session, audio,      workspace, clipboard,  accessibility,
                keystrokes, sounds,  microphone, network,   preferences};
    }

    QTemporaryDir dir;
    QSettings preferences{dir.filePath(QStringLiteral("Vell.conf")), QSettings::IniFormat};
    std::unique_ptr<FakeSecretStore> ownedSecrets = std::make_unique<FakeSecretStore>();
    FakeSecretStore* secrets = ownedSecrets.get(); // the keyring behind `keys`
    KeyStore keys{std::move(ownedSecrets), dir.filePath(QStringLiteral("keys.json"))};
    AppSettings settings{preferences, keys};
    FakeAppearance appearance;
    DesktopSettings desktopSettings{preferences, appearance};
    HistoryStore history{dir.path()};
    FakeKeyboardTap tap;
    FakeSessionEvents session;
    FakeAudioBackend audio;
    FakeWorkspace workspace;
    FakeClipboard clipboard;
    FakeAccessibility accessibility;
    FakeKeystrokePoster keystrokes;
    FakeSoundPlayer sounds;
    FakeMicrophonePermission microphone;
    QNetworkAccessManager network;
};
