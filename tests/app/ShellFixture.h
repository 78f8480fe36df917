#pragma once

#include "app/shell/VellApp.h"
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
#include "transcription/MockTranscriber.h"
#include "transcription/NetworkStatus.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

// Records which windows were asked for, in order.
class FakeWindows final : public WindowPresenter
{
public:
    QStringList opened;

    void showSetup() override { opened << QStringLiteral("setup"); }
    void showSettings() override { opened << QStringLiteral("settings"); }
    void showHistory() override { opened << QStringLiteral("history"); }
    void showStatistics() override { opened << QStringLiteral("stats"); }
    void showConsent() override { opened << QStringLiteral("consent"); }
};

// The whole application on fake platform services, in a temporary folder,
// with timings shortened and the demo transcriber.
class ShellFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        audio.setDevices({{1, QStringLiteral("mic"), QStringLiteral("Built-in Microphone"), true}}, 1);
        workspace.frontmost = RunningApplication{42, QStringLiteral("Editor"), QStringLiteral("editor")};
        NetworkStatus::shared().update(std::nullopt);
    }

    void TearDown() override
    {
        app.reset();
        NetworkStatus::shared().update(std::nullopt);
    }

    VellAppOptions options()
    {
        using namespace std::chrono_literals;
        VellAppOptions result;
        result.controller.timings = {.armDelay = 30ms,
                                     .holdThreshold = 100ms,
                                     .flushLimit = 300ms,
                                     .noticeTime = 300ms,
                                     .clipboardNoticeTime = 600ms,
                                     .keyboardGrabPoll = 50ms,
                                     .recordDelay = 10ms};
        result.controller.clipboardRestoreDelay = 50ms;
        result.controller.dataFolder = dir.path();
        result.controller.words = &PlatformVocabulary::forMacOS();
        result.controller.makeTranscriber = [](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
            return std::make_unique<MockTranscriber>(
                MockTranscriber::Timings{.wordInterval = 3ms, .closingDelay = 20ms});
        };
        result.keyFilePath = dir.filePath(QStringLiteral("keys.json"));
        result.makeWindows = [this](VellApp&) {
            auto fake = std::make_unique<FakeWindows>();
            windows = fake.get();
            return fake;
        };
        result.openUrl = [this](const QUrl& url) {
            opened << url;
            return openSucceeds;
        };
        result.launchCheck = {.delay = 20ms, .patience = 500ms};
        result.showTrayIcon = false;
        return result;
    }

    VellApp& make(VellAppOptions chosen)
    {
        auto store = std::make_unique<FakeSecretStore>();
        secrets = store.get();
        for (auto it = storedKeys.cbegin(); it != storedKeys.cend(); ++it)
            store->putItem(it.key(), it.value());
        if (holdKeys)
            store->hold();
        DictationPlatform platform{tap,        session, audio,      workspace, clipboard,  accessibility,
                                   keystrokes, sounds,  microphone, network,   preferences};
        app = std::make_unique<VellApp>(platform, appearance, std::move(store), std::move(chosen));
        return *app;
    }
    VellApp& make() { return make(options()); }

    bool waitForState(DictationState state, int timeoutMs = 3000)
    {
        // Idle includes the dictation written down, shortly after the paste.
        return QTest::qWaitFor(
            [&] {
                return app->controller().state() == state &&
                       (state != DictationState::idle || !app->controller().hasUnwrittenDictation());
            },
            timeoutMs);
    }

    // A demo dictation with no application in front: its text is left on the
    // clipboard and becomes the unseen failure.
    void dictateWithNoTarget()
    {
        workspace.frontmost.reset();
        ASSERT_TRUE(app->controller().start());
        ASSERT_TRUE(waitForState(DictationState::listening));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !app->controller().committed().isEmpty(); }, 3000));
        app->controller().stop();
        ASSERT_TRUE(waitForState(DictationState::idle));
        ASSERT_TRUE(app->controller().unseenFailure().has_value());
    }

    QTemporaryDir dir;
    QSettings preferences{dir.filePath(QStringLiteral("Vell.conf")), QSettings::IniFormat};
    FakeAppearance appearance;
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

    QHash<QString, QByteArray> storedKeys;
    bool holdKeys = false;
    FakeSecretStore* secrets = nullptr;
    FakeWindows* windows = nullptr;
    QList<QUrl> opened;
    bool openSucceeds = true;
    std::unique_ptr<VellApp> app;
};
