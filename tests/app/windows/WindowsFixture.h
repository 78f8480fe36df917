#pragma once

#include "app/windows/WindowServices.h"
#include "control/DictationController.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAppearance.h"
#include "fakes/FakeAudioBackend.h"
#include "fakes/FakeClipboard.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeKeystrokePoster.h"
#include "fakes/FakeMicrophonePermission.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSessionEvents.h"
#include "fakes/FakeSoundPlayer.h"
#include "fakes/FakeWorkspace.h"
#include "platform/linux/X11KeyCodes.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/KeyStore.h"
#include "support/LocalHttpServer.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable failures for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// The real controller, settings and stores in a temporary folder, the ports
// faked, and the key checks sent to a local server; the windows' services on
// top, with every opened address recorded instead of opened.
class WindowsFixture : public ::testing::Test, public FakeDesktop
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(keys.isLoaded() || QSignalSpy(&keys, &KeyStore::keysLoaded).wait(2000));
        audio.setDevices({{1, QStringLiteral("mic"), QStringLiteral("Built-in Microphone"), true}}, 1);
        const QByteArray server = keyServer.url().toString().toUtf8();
        for (const char* name : {"VELL_ASSEMBLYAI_API_URL", "VELL_SONIOX_API_URL", "VELL_ANTHROPIC_URL"})
            qputenv(name, server);
        QFile::remove(Permissions::autostartPath());
        tap.windowKeys = &X11KeyCodes::windowKey; // the recorder reads keys as on X11

        DictationControllerOptions options;
        options.dataFolder = dir.path();
        controller = std::make_unique<DictationController>(settings, desktopSettings, history, platform(), options);
    }

    void TearDown() override
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            delete window;
        QFile::remove(Permissions::autostartPath());
    }

    bool trayAvailable = true;

    WindowServices services()
    {
        WindowServices made{*controller, tap, microphone, clipboard, preferences, &keys};
        made.permissionPoll = std::chrono::milliseconds(20);
        made.openUrl = [this](const QUrl& url) {
            opened.append(url);
            return opens;
        };
        made.debugLogFolder = dir.filePath(QStringLiteral("logs"));
        made.trayAvailable = [this] { return trayAvailable; };
        return made;
    }

    // Shows a window and gives it the keyboard, as a click on it would.
    static void showActive(QWidget& window)
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    LocalHttpServer keyServer;
    std::unique_ptr<DictationController> controller;

    QList<QUrl> opened;
    bool opens = true;
};
