#include "control/DictationController.h"

#include "control/DictationCommands.h"
#include "control/SessionCheckpoint.h"
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
#include "shortcut/StoredKeyCodes.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/KeyStore.h"
#include "support/LocalHttpServer.h"
#include "transcription/MockTranscriber.h"
#include "transcription/NetworkStatus.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using State = DictationState;
using Event = HotkeyMonitor::Event;

const QString kFirst = QStringLiteral("This is a demo transcript coming from the Vell app.");

// A session the test speaks for.
class ScriptedSession final : public TranscriptionSession
{
public:
    void say(const TranscriptEvent& event) { Q_EMIT eventReceived(event); }
    void end(const std::optional<TranscriptionError>& error = std::nullopt) { Q_EMIT finished(error); }
};

class ControllerTest : public ::testing::Test, protected FakeDesktop
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QSignalSpy(&keys, &KeyStore::keysLoaded).wait(2000) || keys.isLoaded());
        audio.setDevices({{1, QStringLiteral("mic"), QStringLiteral("Built-in Microphone"), true}}, 1);
        workspace.frontmost = RunningApplication{42, QStringLiteral("Editor"), QStringLiteral("editor")};
        settings.setProvider(TranscriptionProvider::mock);
        settings.setCleanupEnabled(false);
        NetworkStatus::shared().update(std::nullopt);
    }

    void TearDown() override { NetworkStatus::shared().update(std::nullopt); }

    DictationController& make(bool scripted = false)
    {
        DictationControllerOptions options;
        options.timings = {.armDelay = 30ms,
                           .holdThreshold = 100ms,
                           .flushLimit = 300ms,
                           .noticeTime = 200ms,
                           .clipboardNoticeTime = 400ms,
                           .keyboardGrabPoll = 50ms,
                           .recordDelay = recordDelay};
        options.clipboardRestoreDelay = 50ms;
        options.dataFolder = dir.path();
        options.words = &PlatformVocabulary::forMacOS();
        options.cleanupEndpoint = cleanupServer.url();
        options.makeTranscriber = [this, scripted](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
            if (!scripted)
                return std::make_unique<MockTranscriber>(
                    MockTranscriber::Timings{.wordInterval = 3ms, .closingDelay = 20ms});
            return std::make_unique<Scripted>(this);
        };
        controller = std::make_unique<DictationController>(settings, desktopSettings, history, platform(), options);
        return *controller;
    }

    bool waitForState(State state, int timeoutMs = 3000)
    {
        // Idle includes the dictation written down, shortly after the paste.
        return QTest::qWaitFor(
            [&] {
                return controller->state() == state && (state != State::idle || !controller->hasUnwrittenDictation());
            },
            timeoutMs);
    }

    // Starts a dictation the way a key shortcut does, and waits until it listens.
    void startListening()
    {
        desktopSettings.setShortcut(Shortcut{StoredKeyCodes::space, QStringLiteral("Space"), ModifierKeys(0xC0)});
        controller->handle(Event::pressed);
        ASSERT_TRUE(waitForState(State::listening));
    }

    const HistoryEntry* onlyEntry() const
    {
        return history.entries().size() == 1 ? &history.entries().first() : nullptr;
    }

    class Scripted final : public StreamingTranscriber
    {
    public:
        explicit Scripted(ControllerTest* test) : m_test(test) {}
        std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream>,
                                                         const TranscriberConfig& config) override
        {
            auto session = std::make_unique<ScriptedSession>();
            m_test->script = session.get();
            m_test->config = config;
            return session;
        }

    private:
        ControllerTest* m_test;
    };

    LocalHttpServer cleanupServer;
    QPointer<ScriptedSession> script;
    TranscriberConfig config;
    std::unique_ptr<DictationController> controller;
    std::chrono::milliseconds recordDelay = 10ms; // between the paste and the saves
};

TEST_F(ControllerTest, AHeldDemoDictationIsPastedRecordedAndSounded)
{
    make();
    tap.modifiers(ModifierKeys::rightAlt, 61); // the default shortcut, through the real monitor
    ASSERT_TRUE(waitForState(State::listening));
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->committed() == kFirst; }, 3000));
    QTest::qWait(120); // a real-time hold, past the tap limit
    tap.modifiers(ModifierKeys(), 61);
    EXPECT_EQ(controller->state(), State::finishing);
    EXPECT_EQ(controller->level(), 0.0f);
    EXPECT_FALSE(controller->hotkey().capturesEscape());
    ASSERT_TRUE(waitForState(State::idle));

    ASSERT_EQ(keystrokes.pastes.size(), 1);
    EXPECT_EQ(keystrokes.blankKeys, 1);               // Right Alt never reached the editor alone
    EXPECT_TRUE(clipboard.text().startsWith(kFirst)); // restored only after the delay
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->status, HistoryEntry::Status::pasted);
    EXPECT_TRUE(entry->text.startsWith(kFirst));
    EXPECT_EQ(entry->appName, QStringLiteral("Editor"));
    ASSERT_EQ(controller->usage().records().size(), 1);
    EXPECT_EQ(sounds.played, (QStringList{u"DictationStart.wav"_qs, u"DictationStop.wav"_qs}));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("session-checkpoint.json"))));
}

TEST_F(ControllerTest, HoldOrTapLatchesOnATapAndStopsOnTheNextPress)
{
    make();
    controller->handle(Event::pressed);
    ASSERT_TRUE(waitForState(State::listening)); // after the arm delay
    controller->handle(Event::released);         // well under the hold limit
    // Latched: nothing ends the dictation however long it runs.
    EXPECT_FALSE(QTest::qWaitFor([&] { return controller->state() != State::listening; }, 150));

    controller->handle(Event::pressed);
    EXPECT_EQ(controller->state(), State::finishing);
    controller->handle(Event::released); // does nothing more
    EXPECT_EQ(controller->state(), State::finishing);
    ASSERT_TRUE(waitForState(State::idle));
}

TEST_F(ControllerTest, ModifierTapsUnderTheArmDelayDependOnTheMode)
{
    make();
    desktopSettings.setTriggerMode(TriggerMode::hold);
    controller->handle(Event::pressed);
    controller->handle(Event::released);
    // Past the arm delay, still nothing has started.
    EXPECT_FALSE(QTest::qWaitFor([&] { return controller->state() != State::idle; }, 80));
    EXPECT_FALSE(controller->notice().text());

    desktopSettings.setTriggerMode(TriggerMode::toggle);
    controller->handle(Event::pressed);
    controller->handle(Event::released); // starts on release
    ASSERT_TRUE(waitForState(State::listening));
    controller->handle(Event::pressed);
    EXPECT_EQ(controller->state(), State::finishing);
    controller->handle(Event::pressed); // ignored while finishing
    ASSERT_TRUE(waitForState(State::idle));
}

TEST_F(ControllerTest, InterruptionCancelsOnlyADictationThisPressStarted)
{
    make();
    startListening();
    controller->handle(Event::interrupted);
    EXPECT_EQ(controller->state(), State::idle); // nothing was said yet

    desktopSettings.setShortcut(Shortcut::defaultShortcut());
    controller->handle(Event::pressed);
    controller->handle(Event::released); // a tap latches
    ASSERT_TRUE(waitForState(State::listening));
    controller->handle(Event::interrupted);
    EXPECT_EQ(controller->state(), State::listening);
}

TEST_F(ControllerTest, EscapeKeepsTheTextInHistoryWithoutPasting)
{
    make();
    startListening();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->committed().isEmpty(); }, 3000));
    controller->handle(Event::escape);
    EXPECT_EQ(controller->state(), State::idle);
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->status, HistoryEntry::Status::cancelled);
    EXPECT_EQ(controller->notice().text(), QStringLiteral("Cancelled. The text is in History."));
    EXPECT_TRUE(keystrokes.pastes.isEmpty());
    EXPECT_TRUE(controller->usage().records().isEmpty());

    controller->handle(Event::escape); // while idle: nothing
    EXPECT_EQ(history.entries().size(), 1);
}

TEST_F(ControllerTest, SleepOrLockCancelsOnlyWhileActive)
{
    make();
    session.lock();
    EXPECT_EQ(controller->state(), State::idle);
    startListening();
    session.sleep();
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_TRUE(keystrokes.pastes.isEmpty());
}

TEST_F(ControllerTest, TheStopCueAndClosingTheMicrophoneWaitPastAQuickPasteButNotPastTheNextStart)
{
    make(true);
    startListening();
    const int opened = audio.openCount();
    controller->stop();
    // Nothing more reaches the service, but the sound server is left alone for now.
    EXPECT_EQ(sounds.played, QStringList{u"DictationStart.wav"_qs});
    EXPECT_EQ(audio.liveCount(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return audio.liveCount() == 0; }, 1000)) << "the microphone stays open";
    EXPECT_EQ(sounds.played, (QStringList{u"DictationStart.wav"_qs, u"DictationStop.wav"_qs}));
    ASSERT_TRUE(waitForState(State::idle, 2000));

    // A new dictation right after a cancel closes the old recording first.
    startListening();
    controller->cancel();
    startListening();
    EXPECT_EQ(audio.openCount(), opened + 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return audio.liveCount() == 1; }, 1000));
    QTest::qWait(50);
    EXPECT_EQ(audio.liveCount(), 1) << "the old recording's closing took the new one";
}

TEST_F(ControllerTest, TheFlushLimitFinishesWithWhatArrivedIncludingTheInterim)
{
    make(true);
    startListening();
    ASSERT_TRUE(script);
    script->say(TranscriptEvent::finalText(u"Hello there."_qs));
    script->say(TranscriptEvent::interim(u"and more"_qs));
    controller->stop();
    EXPECT_EQ(controller->state(), State::finishing);
    ASSERT_TRUE(waitForState(State::idle, 2000)); // the script never ends by itself
    EXPECT_FALSE(script);                         // the session was dropped
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text, u"Hello there. and more"_qs);
    EXPECT_EQ(entry->status, HistoryEntry::Status::pasted);
}

TEST_F(ControllerTest, QuittingMidDictationKeepsEveryWordOnScreen)
{
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"First sentence."_qs));
    script->say(TranscriptEvent::interim(u"and the words not yet final"_qs));
    controller.reset(); // the program quits

    ASSERT_EQ(history.entries().size(), 1);
    EXPECT_EQ(history.entries().first().text, u"First sentence. and the words not yet final"_qs);
    EXPECT_EQ(history.entries().first().status, HistoryEntry::Status::notInserted);
    // The next start recovers nothing a second time.
    make(true);
    EXPECT_EQ(history.entries().size(), 1);
}

TEST_F(ControllerTest, AServiceThatNeverAnswersEndsWithANotice)
{
    make(true);
    startListening();
    controller->stop(); // a short dictation; the service has said nothing at all
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(controller->notice().text(), u"No text came back from the transcription service in time."_qs);
    EXPECT_TRUE(history.entries().isEmpty());
}

TEST_F(ControllerTest, ATranscriberErrorStillDeliversTheTextAndSaysWhy)
{
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"Kept safe."_qs));
    script->end(TranscriptionError::provider(u"The service is overloaded."_qs));
    ASSERT_TRUE(waitForState(State::idle));
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text, u"Kept safe."_qs);
    EXPECT_EQ(entry->status, HistoryEntry::Status::pasted);
    EXPECT_EQ(entry->note, u"The service is overloaded."_qs);
    EXPECT_EQ(controller->notice().text(), u"The service is overloaded."_qs);
}

TEST_F(ControllerTest, AMicrophoneThatWillNotOpenEndsWithItsReason)
{
    make(true);
    audio.setFailsAll(true);
    desktopSettings.setShortcut(Shortcut{StoredKeyCodes::space, QStringLiteral("Space"), ModifierKeys(0xC0)});
    controller->handle(Event::pressed);
    ASSERT_TRUE(waitForState(State::finishing));
    ASSERT_TRUE(script);
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_TRUE(controller->notice().text());
    EXPECT_TRUE(controller->notice().text()->startsWith(u"Couldn't open the microphone: "_qs));
    EXPECT_TRUE(history.entries().isEmpty());
    EXPECT_TRUE(sounds.played.isEmpty()); // never listened, so no cues
}

TEST_F(ControllerTest, CleanedTextIsPastedAndTheRawTextKept)
{
    settings.setAnthropicKey(u"sk-test"_qs);
    settings.setCleanupEnabled(true);
    cleanupServer.enqueue(LocalHttpServer::Reply::answer(
        200, R"({"content":[{"type":"text","text":"Hello, there."}],"stop_reason":"end_turn"})",
        {{"Content-Type", "application/json"}}));
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"hello there"_qs));
    controller->stop();
    script->end();
    EXPECT_TRUE(controller->isPolishing());
    EXPECT_EQ(controller->state(), State::finishing);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_FALSE(controller->isPolishing());
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text, u"Hello, there."_qs);
    EXPECT_EQ(entry->rawText, u"hello there"_qs);
    EXPECT_EQ(entry->status, HistoryEntry::Status::pasted);
    EXPECT_FALSE(controller->notice().text());
}

TEST_F(ControllerTest, AServiceThatGivesUpMidSentenceEndsTheListeningBeforeTheCleanup)
{
    settings.setAnthropicKey(u"sk-test"_qs);
    settings.setCleanupEnabled(true);
    cleanupServer.enqueue(LocalHttpServer::Reply::answer(
        200, R"({"content":[{"type":"text","text":"Half a thought."}],"stop_reason":"end_turn"})",
        {{"Content-Type", "application/json"}}));
    make(true);
    startListening();
    script->say(TranscriptEvent::reconnecting());
    script->say(TranscriptEvent::finalText(u"half a thought"_qs));
    script->end(TranscriptionError::connectionLost()); // the user is still talking
    ASSERT_TRUE(controller->isPolishing());
    EXPECT_EQ(controller->state(), State::finishing); // not "Listening…"
    EXPECT_FALSE(controller->isReconnecting());       // not "Reconnecting… keep talking"
    EXPECT_TRUE(QTest::qWaitFor([&] { return audio.liveCount() == 0; }, 1000)) << "the microphone stays open";

    controller->handle(Event::pressed); // a press during the cleanup stops nothing twice
    controller->handle(Event::released);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(onlyEntry()->text, u"Half a thought."_qs);
}

TEST_F(ControllerTest, AFailedCleanupPastesTheRawTranscriptAndSaysSo)
{
    settings.setAnthropicKey(u"sk-test"_qs);
    settings.setCleanupEnabled(true);
    cleanupServer.enqueue(LocalHttpServer::Reply::answer(500, R"({"error":{"message":"Internal"}})"));
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"raw words"_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    const HistoryEntry* entry = onlyEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text, u"raw words"_qs);
    ASSERT_TRUE(controller->notice().text());
    EXPECT_TRUE(controller->notice().text()->endsWith(u" Pasted the raw transcript."_qs));
    EXPECT_EQ(entry->note, controller->notice().text());
    ASSERT_EQ(keystrokes.pastes.size(), 1);
}

TEST_F(ControllerTest, SwitchingAppsLeavesTheTextOnTheClipboard)
{
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"For the editor."_qs));
    workspace.frontmost = RunningApplication{7, QStringLiteral("Browser"), QStringLiteral("browser")};
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_TRUE(keystrokes.pastes.isEmpty());
    EXPECT_EQ(clipboard.text(), u"For the editor."_qs);
    EXPECT_EQ(controller->notice().text(), QString::fromUtf8("On the clipboard. Press ⌘V to paste."));
    EXPECT_EQ(controller->notice().detail(), u"You switched to Browser, so it wasn't pasted."_qs);
    EXPECT_TRUE(controller->notice().isAboutClipboard());
    ASSERT_TRUE(controller->unseenFailure());
    EXPECT_EQ(controller->unseenFailure()->appName, u"Editor"_qs);
    EXPECT_EQ(onlyEntry()->status, HistoryEntry::Status::notInserted);

    // A clipboard notice stays longer than a plain one.
    EXPECT_FALSE(QTest::qWaitFor([&] { return !controller->notice().text(); }, 250));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->notice().text(); }, 1000));
}

TEST_F(ControllerTest, ChoosingNotToKeepHistoryDeletesItAtOnce)
{
    make();
    for (const QString& text : {u"one"_qs, u"two"_qs, u"three"_qs})
        history.add({.id = QUuid::createUuid(), .date = QDateTime::currentDateTimeUtc(), .text = text});
    ASSERT_EQ(history.entries().size(), 3);

    settings.setHistoryRetention(HistoryRetention::never);
    EXPECT_TRUE(history.entries().isEmpty());
    QFile file(dir.filePath(QStringLiteral("history.json")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            file.close();
            return file.open(QIODevice::ReadOnly) && !file.readAll().contains("two");
        },
        1000));
}

TEST_F(ControllerTest, TheDefaultShortcutFollowsTheLayout)
{
    tap.typing = ModifierKeys::rightAlt;
    make();
    EXPECT_EQ(controller->hotkey().shortcut().modifiers, ModifierKeys::rightControl);
    tap.switchLayout({});
    EXPECT_EQ(controller->hotkey().shortcut().modifiers, ModifierKeys::rightAlt);
}

TEST_F(ControllerTest, NearAPasswordNothingIsHeardOrKept)
{
    make();
    const PlatformVocabulary& words = PlatformVocabulary::forMacOS();

    accessibility.passwordField = true;
    controller->handle(Event::pressed);
    controller->handle(Event::released);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(controller->notice().text(), words.passwordFieldNotice);

    // Another program holds the whole keyboard: nobody is named, as nobody can be told.
    accessibility.passwordField = false;
    workspace.grab = KeyboardGrab{};
    controller->handle(Event::pressed);
    controller->handle(Event::released);
    EXPECT_EQ(controller->state(), State::idle);
    EXPECT_EQ(controller->notice().text(), words.keyboardGrabWarning.arg(words.unknownProgram));
    EXPECT_EQ(keystrokes.blankKeys, 1) << "a key was posted to the program that holds the keyboard";

    EXPECT_FALSE(QTest::qWaitFor([&] { return audio.openCount() > 0; }, 100)) << "the microphone was opened";
    EXPECT_TRUE(history.entries().isEmpty());
    EXPECT_TRUE(sounds.played.isEmpty());

    // Once the grab ends, dictation works again.
    workspace.grab.reset();
    startListening();
}

TEST_F(ControllerTest, WithoutATargetTheTextGoesToTheClipboard)
{
    workspace.frontmost.reset();
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"Nowhere to go."_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(controller->notice().detail(), u"There was no app to paste into."_qs);
    EXPECT_EQ(clipboard.text(), u"Nowhere to go."_qs);

    // A clipboard that will not take it: the notice says where the text really is.
    clipboard.refusesWrites = true;
    startListening();
    script->say(TranscriptEvent::finalText(u"Still nowhere."_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(controller->notice().text(),
              u"Not pasted, and the clipboard couldn't take it. The text is in History."_qs);
    EXPECT_EQ(history.entries().first().text, u"Still nowhere."_qs);
}

TEST_F(ControllerTest, AHistoryThatCannotBeSavedIsToldOnceAfterAPaste)
{
    make(true);
    const auto dictate = [&](const QString& text) {
        controller->notice().clear();
        startListening();
        script->say(TranscriptEvent::finalText(text));
        controller->stop();
        script->end();
        ASSERT_TRUE(waitForState(State::idle));
        ASSERT_EQ(history.entries().first().status, HistoryEntry::Status::pasted);
    };
    const QString unsaved =
        u"History couldn't be saved to disk; Vell keeps trying, and what isn't saved is lost when it quits."_qs;
    const QString blocker = dir.filePath(u"history.json"_qs);

    QFile::remove(blocker);
    ASSERT_TRUE(QDir().mkpath(blocker)); // a folder where the file goes: every save fails
    dictate(u"First."_qs);
    EXPECT_EQ(controller->notice().text(), unsaved);
    EXPECT_EQ(history.entries().first().note, std::nullopt) << "the entry's note is about the dictation only";
    dictate(u"Second."_qs);
    EXPECT_EQ(controller->notice().text(), std::nullopt) << "told once";

    ASSERT_TRUE(QDir(blocker).removeRecursively());
    dictate(u"Third."_qs);
    EXPECT_EQ(controller->notice().text(), std::nullopt);
    EXPECT_EQ(HistoryStore(dir.path()).entries().size(), 3);

    QFile::remove(blocker);
    ASSERT_TRUE(QDir().mkpath(blocker)); // failing again is told again
    dictate(u"Fourth."_qs);
    EXPECT_EQ(controller->notice().text(), unsaved);
}

TEST_F(ControllerTest, CommandsFromOutsideTakeTheShortcutsPathsAndSayWhyNot)
{
    make(true);
    QList<DictationCommands::Window> shown;
    int quits = 0;
    DictationCommands commands(*controller,
                               {[&](DictationCommands::Window window) { shown << window; }, [&] { ++quits; }});
    QSignalSpy changes(&commands, &DictationCommands::statusChanged);
    using Command = DictationCommands::Command;

    EXPECT_EQ(commands.run(Command::stop), u"Vell isn't dictating."_qs);
    EXPECT_EQ(commands.run(Command::cancel), u"Vell isn't dictating."_qs);
    EXPECT_EQ(commands.state(), u"idle"_qs);
    EXPECT_EQ(commands.lastOutcome(), QString());

    // Toggle starts and stops; the text goes where the shortcut's would.
    EXPECT_EQ(commands.run(Command::toggle), std::nullopt);
    ASSERT_TRUE(waitForState(State::listening));
    EXPECT_EQ(commands.run(Command::start), u"Vell is already dictating."_qs);
    script->say(TranscriptEvent::finalText(u"From a binding."_qs));
    EXPECT_EQ(commands.run(Command::toggle), std::nullopt);
    EXPECT_EQ(commands.state(), u"finishing"_qs);
    EXPECT_EQ(commands.run(Command::toggle), u"Vell is still finishing the last dictation."_qs);
    EXPECT_EQ(commands.run(Command::press), u"Vell is still finishing the last dictation."_qs);
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(keystrokes.pastes.size(), 1);
    EXPECT_EQ(commands.lastOutcome(), u"pasted"_qs);
    EXPECT_GE(changes.size(), 4); // starting, listening, finishing, idle

    // A press of a bound key is not one of Vell's keys: no blank key goes out
    // for it, and a refused start answers with the notice's sentence.
    desktopSettings.setShortcut(Shortcut{StoredKeyCodes::space, QStringLiteral("Space"), ModifierKeys(0xC0)});
    settings.setProvider(TranscriptionProvider::soniox);
    const int blankKeys = keystrokes.blankKeys;
    EXPECT_EQ(commands.run(Command::press), u"Add your Soniox (fastest, cheapest) API key in Vell Settings."_qs);
    EXPECT_EQ(commands.run(Command::release), std::nullopt);
    EXPECT_EQ(commands.lastOutcome(), u"refused"_qs);
    EXPECT_TRUE(commands.isNoticeShowing());

    // Held past the hold limit with the default (modifier) shortcut: push-to-talk.
    desktopSettings.setShortcut(Shortcut::defaultShortcut());
    settings.setProvider(TranscriptionProvider::mock);
    EXPECT_EQ(commands.run(Command::press), std::nullopt);
    ASSERT_TRUE(waitForState(State::listening)); // after the arm delay
    QTest::qWait(150);                           // a real-time hold, past the tap limit
    EXPECT_EQ(commands.run(Command::release), std::nullopt);
    EXPECT_EQ(controller->state(), State::finishing);
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(keystrokes.blankKeys, blankKeys);

    EXPECT_EQ(commands.run(Command::showHistory), std::nullopt);
    EXPECT_EQ(commands.run(Command::showSetup), std::nullopt);
    EXPECT_EQ(commands.run(Command::quit), std::nullopt);
    EXPECT_EQ(shown,
              (QList<DictationCommands::Window>{DictationCommands::Window::history, DictationCommands::Window::setup}));
    EXPECT_EQ(quits, 1);
}

TEST_F(ControllerTest, ADesktopThatAsksBeforePastingIsAskedAtTheStartAndARefusalLeavesTheClipboard)
{
    make(true);
    keystrokes.allowed = KeystrokePoster::Access::notAsked;
    keystrokes.answer = KeystrokePoster::Access::refused;
    startListening();
    EXPECT_EQ(keystrokes.accessRequests, 1) << "asked while the user talks, not at the paste";
    script->say(TranscriptEvent::finalText(u"Not yet allowed."_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_TRUE(keystrokes.pastes.isEmpty());
    EXPECT_EQ(clipboard.text(), u"Not yet allowed."_qs);
    EXPECT_EQ(controller->notice().detail(),
              u"Your desktop didn't let Vell paste; allow it when it asks at your next dictation."_qs);
    EXPECT_EQ(history.entries().first().status, HistoryEntry::Status::notInserted);

    // Asked again at the next dictation; allowed this time, it pastes.
    keystrokes.answer = KeystrokePoster::Access::granted;
    startListening();
    EXPECT_EQ(keystrokes.accessRequests, 2);
    script->say(TranscriptEvent::finalText(u"Now it may."_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(keystrokes.pastes.size(), 1);
    EXPECT_EQ(history.entries().first().status, HistoryEntry::Status::pasted);
}

TEST_F(ControllerTest, TheCaretIsReadWhenListeningStartsAndAgainWhileTheServiceFinishes)
{
    make(true);
    QStringList pasted;
    keystrokes.onPaste = [&] { pasted << clipboard.text(); };
    const auto dictate = [&](const QString& words, bool answersAtOnce) {
        accessibility.askedPids.clear();
        accessibility.before = U'o';
        startListening();
        EXPECT_TRUE(QTest::qWaitFor([&] { return accessibility.askedPids == QList<qint32>{42}; }, 1000));
        accessibility.before = U' '; // the user typed a space while speaking
        script->say(TranscriptEvent::finalText(words));
        controller->stop();
        if (!answersAtOnce) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return accessibility.askedPids.size() == 2; }, 1000));
        }
        script->end();
        EXPECT_TRUE(waitForState(State::idle));
    };

    // Too quick for the second read: the paste goes by the first, without asking again.
    dictate(u"quick"_qs, true);
    EXPECT_EQ(accessibility.askedPids, QList<qint32>{42});
    // Given the time, the second read is the one that counts.
    dictate(u"slow"_qs, false);
    EXPECT_EQ(accessibility.askedPids, (QList<qint32>{42, 42}));
    EXPECT_EQ(pasted, (QStringList{u" quick"_qs, u"slow"_qs}));
}

TEST_F(ControllerTest, StartChecksRefuseWithOneNoticeInOrder)
{
    make();
    settings.setProvider(TranscriptionProvider::assemblyAI);
    NetworkStatus::shared().update(false);
    EXPECT_FALSE(controller->start());
    EXPECT_EQ(controller->notice().text(), u"Add your AssemblyAI (most accurate) API key in Vell Settings."_qs);

    settings.setAPIKey(u"key"_qs, TranscriptionProvider::assemblyAI);
    EXPECT_FALSE(controller->start());
    EXPECT_TRUE(controller->wantsConsent());
    EXPECT_EQ(controller->notice().text(), u"Allow Vell to send your voice for transcription."_qs);

    settings.setAiSharingAllowed(true);
    EXPECT_FALSE(controller->start());
    EXPECT_EQ(controller->notice().text(), u"No internet connection."_qs);

    settings.setProvider(TranscriptionProvider::mock); // the demo needs no network
    microphone.current = MicrophonePermission::Status::undetermined;
    EXPECT_FALSE(controller->start());
    EXPECT_EQ(controller->notice().text(), u"Allow microphone access, then try again."_qs);
    EXPECT_EQ(microphone.requests, 1);
    EXPECT_TRUE(controller->start()); // granted in the meantime
    EXPECT_EQ(controller->state(), State::starting);
    EXPECT_EQ(history.entries().size(), 0);
}

TEST_F(ControllerTest, EveryFinalSegmentRewritesTheCheckpointUnlessHistoryIsOff)
{
    make(true);
    startListening();
    const QString path = dir.filePath(QStringLiteral("session-checkpoint.json"));
    script->say(TranscriptEvent::finalText(u"One."_qs));
    script->say(TranscriptEvent::finalText(u"Two."_qs));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\"text\":\"One. Two.\""));
    controller->cancel();
    EXPECT_FALSE(QFile::exists(path));

    settings.setHistoryRetention(HistoryRetention::never);
    startListening();
    script->say(TranscriptEvent::finalText(u"Private."_qs));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(ControllerTest, APasteNotYetWrittenIsInTheCheckpointSoAKillLosesNothing)
{
    recordDelay = 60s; // the paste is done, the history not yet written
    make(true);
    startListening();
    script->say(TranscriptEvent::finalText(u"Pasted before the crash."_qs));
    controller->stop();
    script->end();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->state() == State::idle; }, 3000));
    ASSERT_EQ(keystrokes.pastes.size(), 1);
    ASSERT_TRUE(controller->hasUnwrittenDictation());

    // What a new start finds if Vell is killed now: the disk as it is.
    HistoryStore afterCrash(dir.path());
    EXPECT_TRUE(afterCrash.entries().isEmpty()) << "nothing was to be written before the paste";
    SessionCheckpoint(dir.path()).recover(afterCrash);
    ASSERT_EQ(afterCrash.entries().size(), 1);
    EXPECT_EQ(afterCrash.entries().first().text, u"Pasted before the crash."_qs);

    // Written after all, the checkpoint goes and nothing is recovered twice.
    controller.reset();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("session-checkpoint.json"))));
    EXPECT_EQ(HistoryStore(dir.path()).entries().first().status, HistoryEntry::Status::pasted);
}

TEST_F(ControllerTest, ReconnectingIsShownUntilConnectedAgain)
{
    make(true);
    startListening();
    QSignalSpy changes(controller.get(), &DictationController::isReconnectingChanged);
    script->say(TranscriptEvent::reconnecting());
    EXPECT_TRUE(controller->isReconnecting());
    script->say(TranscriptEvent::reconnecting());
    script->say(TranscriptEvent::connected());
    EXPECT_FALSE(controller->isReconnecting());
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(ControllerTest, AKeyboardGrabIsPublishedWithItsOwnerIfKnown)
{
    make();
    EXPECT_FALSE(controller->keyboardGrab().app());
    workspace.grab = KeyboardGrab{};
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->keyboardGrab().app().has_value(); }, 1000));
    EXPECT_EQ(controller->keyboardGrab().app(), QString());
    workspace.grab = KeyboardGrab{RunningApplication{9, QStringLiteral("Password Prompt"), std::nullopt}};
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->keyboardGrab().app() == u"Password Prompt"_qs; }, 1000));
    workspace.grab.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->keyboardGrab().app(); }, 1000));
}

} // namespace
