#include "app/windows/settings/SettingsWindow.h"

#include "app/windows/WindowsFixture.h"
#include "app/windows/history/DeleteAllDialog.h"
#include "app/windows/settings/CompositorBindingsBox.h"
#include "app/windows/settings/DictionaryTab.h"
#include "app/windows/settings/GeneralTab.h"
#include "app/windows/settings/KeyRow.h"
#include "app/windows/settings/KeyringLockNote.h"
#include "app/windows/settings/MicrophoneSection.h"
#include "app/windows/settings/PermissionsBanner.h"
#include "app/windows/settings/PrivacyTab.h"
#include "app/windows/settings/TranscriptionTab.h"
#include "shortcut/StoredKeyCodes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

class SettingsWindowTest : public WindowsFixture
{
protected:
    SettingsWindow& open()
    {
        window = std::make_unique<SettingsWindow>(services(), [this] { ++setupOpened; });
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return *window;
    }

    void TearDown() override
    {
        window.reset();
        WindowsFixture::TearDown();
    }

    HistoryEntry cleaned(const QString& raw, const QString& text)
    {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.date = QDateTime::currentDateTime();
        entry.text = text;
        entry.rawText = raw;
        entry.status = HistoryEntry::Status::pasted;
        return entry;
    }

    std::unique_ptr<SettingsWindow> window;
    int setupOpened = 0;
};

TEST_F(SettingsWindowTest, AKeyIsCommittedOnLeavingTheFieldAndShowsItsVerdict)
{
    settings.setProvider(TranscriptionProvider::assemblyAI);
    SettingsWindow& settingsWindow = open();
    settingsWindow.tabs()->setCurrentWidget(settingsWindow.transcription());
    KeyRow* row = settingsWindow.transcription()->keyRow();
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->service(), KeyService::assemblyAI);
    EXPECT_EQ(row->field()->placeholderText(), u"Paste your key"_qs);
    QComboBox* elsewhere = settingsWindow.transcription()->language();

    const auto commit = [&](const QString& typed) {
        row->field()->setFocus();
        row->field()->selectAll();
        QTest::keyClick(row->field(), Qt::Key_Backspace);
        QTest::keyClicks(row->field(), typed);
        elsewhere->setFocus();
    };

    // Accepted.
    keyServer.enqueue(LocalHttpServer::Reply::answer(200));
    commit(u"  good-key\t"_qs);
    EXPECT_EQ(settings.apiKey(TranscriptionProvider::assemblyAI), u"good-key"_qs);
    EXPECT_EQ(row->field()->text(), u"good-key"_qs);
    EXPECT_TRUE(row->isChecking());
    ASSERT_TRUE(QTest::qWaitFor([&] { return row->verdictText() == u"Works"_qs; }, 5000));
    EXPECT_FALSE(row->isChecking());
    ASSERT_EQ(keyServer.requests().size(), 1);
    EXPECT_EQ(keyServer.requests()[0].header("authorization"), QByteArray("good-key"));

    // Leaving again without a change, or with only spaces around the same key, checks nothing.
    row->field()->setFocus();
    elsewhere->setFocus();
    commit(u" good-key "_qs);
    EXPECT_EQ(row->verdictText(), u"Works"_qs);
    EXPECT_EQ(keyServer.requests().size(), 1);

    // Rejected.
    keyServer.enqueue(LocalHttpServer::Reply::answer(401));
    commit(u"bad-key"_qs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row->verdictText() == u"This key was rejected."_qs; }, 5000));
    EXPECT_EQ(settings.apiKey(TranscriptionProvider::assemblyAI), u"bad-key"_qs); // kept all the same

    // Still being checked: only the spinner shows.
    keyServer.enqueue(LocalHttpServer::Reply::silent());
    QSignalSpy requested(&keyServer, &LocalHttpServer::requestReceived);
    commit(u"slow-key"_qs);
    ASSERT_TRUE(requested.wait(5000));
    EXPECT_TRUE(row->isChecking());
    EXPECT_TRUE(row->verdictText().isEmpty());

    // Emptied: no verdict, and no request.
    commit(QString());
    EXPECT_FALSE(row->isChecking());
    EXPECT_TRUE(row->verdictText().isEmpty());
    EXPECT_TRUE(settings.apiKey(TranscriptionProvider::assemblyAI).isEmpty());
    EXPECT_EQ(keyServer.requests().size(), 3);
}

TEST_F(SettingsWindowTest, AKeyBehindALockedKeyringIsNamedAndUnlockedOnlyOnRequest)
{
    secrets->putItem(u"assemblyAI"_qs, "sk-kept");
    secrets->setStatus(SecretStore::Status::locked);
    settings.setProvider(TranscriptionProvider::assemblyAI);
    settings.setAiSharingAllowed(true);
    QSignalSpy unlocked(&keys, &KeyStore::unlockFinished);
    keys.unlock(); // dismissed: the keyring was locked when Vell started
    ASSERT_TRUE(unlocked.wait());
    EXPECT_EQ(secrets->unlocks(), 1);

    // A dictation says why there is no key, and never asks the keyring itself.
    EXPECT_FALSE(controller->start());
    EXPECT_EQ(controller->notice().text(),
              u"Your keyring is locked: unlock it in Vell Settings to use your AssemblyAI (most accurate) API key."_qs);
    EXPECT_EQ(secrets->unlocks(), 1);

    SettingsWindow& settingsWindow = open();
    settingsWindow.tabs()->setCurrentWidget(settingsWindow.transcription());
    KeyringLockNote* note = settingsWindow.transcription()->lockNote();
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(settingsWindow.transcription()->keyRow()->field()->text().isEmpty());

    secrets->acceptUnlock(true);
    QTest::mouseClick(note->unlockButton(), Qt::LeftButton);
    ASSERT_TRUE(unlocked.wait());
    EXPECT_FALSE(note->isVisible());
    EXPECT_EQ(settingsWindow.transcription()->keyRow()->field()->text(), u"sk-kept"_qs);
    EXPECT_EQ(settings.apiKey(TranscriptionProvider::assemblyAI), u"sk-kept"_qs);

    // The demo has no key, so nothing about the keyring shows for it.
    secrets->setStatus(SecretStore::Status::locked);
    secrets->acceptUnlock(false);
    keys.unlock();
    ASSERT_TRUE(unlocked.wait());
    EXPECT_TRUE(note->isVisible());
    settings.setProvider(TranscriptionProvider::mock);
    EXPECT_FALSE(note->isVisible());
}

TEST_F(SettingsWindowTest, OnSwayTheGeneralTabShowsTheBindingLinesForTheShortcutReadyToCopy)
{
    WindowServices onSway = services();
    onSway.compositor = CompositorBindings::Compositor::sway;
    onSway.vellCommand = u"/opt/vell/bin/vell"_qs;
    onSway.words = &PlatformVocabulary::forLinuxWayland();
    SettingsWindow settingsWindow(onSway, [] {});
    settingsWindow.show();
    CompositorBindingsBox* bindings = settingsWindow.general()->bindings();
    ASSERT_NE(bindings, nullptr);
    EXPECT_EQ(bindings->lines()->toPlainText(), u"bindsym --no-repeat Alt_R exec /opt/vell/bin/vell press\n"
                                                "bindsym --release Alt_R exec /opt/vell/bin/vell release"_qs);

    desktopSettings.setShortcut(Shortcut{{}, {}, ModifierKeys::rightControl});
    EXPECT_TRUE(bindings->lines()->toPlainText().startsWith(u"bindsym --no-repeat Control_R exec"_qs));
    QTest::mouseClick(bindings->copyButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard.text(), bindings->lines()->toPlainText() + u'\n');
    EXPECT_EQ(bindings->copyButton()->text(), u"Copied"_qs);

    // X11 shows none: its own shortcut works everywhere.
    SettingsWindow onX11(services(), [] {});
    EXPECT_EQ(onX11.general()->bindings(), nullptr);
}

TEST_F(SettingsWindowTest, WhereTheDesktopCannotBindTheShortcutTheGeneralTabSaysWhy)
{
    WindowServices onPortal = services();
    onPortal.shortcutAdvice = [](const Shortcut& shortcut) -> std::optional<QString> {
        if (shortcut.isModifierOnly())
            return u"A lone modifier can't be a desktop shortcut."_qs;
        return std::nullopt;
    };
    SettingsWindow settingsWindow(onPortal, [] {});
    settingsWindow.show();
    QLabel* advice = settingsWindow.general()->shortcutAdvice();
    EXPECT_TRUE(advice->isVisible()); // the default shortcut is Right Alt alone
    EXPECT_EQ(advice->text(), u"A lone modifier can't be a desktop shortcut."_qs);
    desktopSettings.setShortcut(
        Shortcut{StoredKeyCodes::space, u"Space"_qs, ModifierKeys::leftControl | ModifierKeys::leftAlt});
    EXPECT_FALSE(advice->isVisible());
}

TEST_F(SettingsWindowTest, TheBannerShowsWhatIsMissingUntilItIsGranted)
{
    microphone.current = MicrophonePermission::Status::undetermined;
    tap.keyboardAccess = false;
    SettingsWindow& settingsWindow = open();
    PermissionsBanner* banner = settingsWindow.banner();
    EXPECT_TRUE(banner->showsKeyboardAccess());
    EXPECT_TRUE(banner->showsMicrophone());
    EXPECT_EQ(banner->microphoneButton()->text(), u"Allow Microphone"_qs);
    EXPECT_EQ(banner->keyboardAccessButton()->text(), u"Check Again"_qs);

    QTest::mouseClick(banner->microphoneButton(), Qt::LeftButton);
    EXPECT_EQ(microphone.requests, 1);
    EXPECT_FALSE(banner->showsMicrophone());

    tap.keyboardAccess = true; // granted elsewhere: the poll notices
    ASSERT_TRUE(QTest::qWaitFor([&] { return !banner->isVisible(); }, 2000));

    microphone.current = MicrophonePermission::Status::denied; // taken away again
    ASSERT_TRUE(QTest::qWaitFor([&] { return banner->showsMicrophone(); }, 2000));
    EXPECT_EQ(banner->microphoneButton()->text(), u"Check Again"_qs);
    EXPECT_FALSE(banner->showsKeyboardAccess());
}

TEST_F(SettingsWindowTest, WithoutATrayItSaysHowToComeBack)
{
    EXPECT_FALSE(open().noTrayNote()->isVisible());
    trayAvailable = false;
    QLabel* note = open().noTrayNote();
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains(u"launch Vell again from the applications menu"));
}

TEST_F(SettingsWindowTest, AnUnpluggedMicrophoneStaysChosenAsNotConnected)
{
    desktopSettings.setInputDeviceUID(u"usb-headset"_qs);
    SettingsWindow& settingsWindow = open();
    QComboBox* picker = settingsWindow.general()->microphone()->picker();
    ASSERT_EQ(picker->count(), 3);
    EXPECT_EQ(picker->itemText(0), u"System default"_qs);
    EXPECT_EQ(picker->itemText(1), u"Built-in Microphone"_qs);
    EXPECT_EQ(picker->currentText(), u"Not connected"_qs);
    EXPECT_EQ(desktopSettings.inputDeviceUID(), u"usb-headset"_qs);

    audio.setDevices(
        {{1, u"mic"_qs, u"Built-in Microphone"_qs, true}, {2, u"usb-headset"_qs, u"USB Headset"_qs, false}}, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return picker->currentText() == u"USB Headset"_qs; }, 2000));
    EXPECT_EQ(picker->count(), 3);

    picker->setCurrentIndex(0);
    EXPECT_EQ(desktopSettings.inputDeviceUID(), std::nullopt);
    picker->setCurrentIndex(1);
    EXPECT_EQ(desktopSettings.inputDeviceUID(), u"mic"_qs);

    QCheckBox* builtIn = settingsWindow.general()->microphone()->preferBuiltIn();
    QTest::mouseClick(builtIn, Qt::LeftButton);
    EXPECT_TRUE(settings.preferBuiltInMic());
}

TEST_F(SettingsWindowTest, SuggestionsFromHistoryCanBeAddedOrDismissed)
{
    history.add(cleaned(u"we met with anya today"_qs, u"We met with Anya today."_qs));
    history.add(cleaned(u"call anya and the github team"_qs, u"Call Anya and the GitHub team."_qs));
    history.add(cleaned(u"push it to github now"_qs, u"Push it to GitHub now."_qs));
    settings.setVocabulary({u"Kubernetes"_qs});
    SettingsWindow& settingsWindow = open();
    DictionaryTab* dictionary = settingsWindow.dictionary();
    settingsWindow.tabs()->setCurrentWidget(dictionary);
    EXPECT_EQ(dictionary->editor()->toPlainText(), u"Kubernetes"_qs);
    // Counted off the UI thread once the tab shows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dictionary->suggestions().isEmpty(); }, 3000));
    ASSERT_EQ(dictionary->suggestions(), (QStringList{u"Anya"_qs, u"GitHub"_qs}));

    const auto button = [&](const QString& word, const QString& title) -> QPushButton* {
        QPushButton* found = nullptr;
        for (QPushButton* candidate : dictionary->findChild<QWidget*>(word)->findChildren<QPushButton*>())
            if (candidate->text() == title)
                found = candidate;
        // Laid out once the event loop has run: a click needs somewhere to land.
        EXPECT_TRUE(QTest::qWaitFor([&] { return found && found->isVisible() && !found->geometry().isEmpty(); }, 2000));
        return found;
    };
    QTest::mouseClick(button(u"Anya"_qs, u"Add"_qs), Qt::LeftButton);
    EXPECT_EQ(settings.vocabulary(), (QStringList{u"Kubernetes"_qs, u"Anya"_qs}));
    EXPECT_EQ(dictionary->editor()->toPlainText(), u"Kubernetes\nAnya"_qs);
    EXPECT_EQ(dictionary->suggestions(), QStringList{u"GitHub"_qs});

    QTest::mouseClick(button(u"GitHub"_qs, u"Dismiss"_qs), Qt::LeftButton);
    EXPECT_EQ(settings.dismissedSuggestions(), QStringList{u"GitHub"_qs});
    EXPECT_TRUE(dictionary->suggestions().isEmpty());

    // Typing in the dictionary edits it line by line.
    dictionary->editor()->setFocus();
    dictionary->editor()->moveCursor(QTextCursor::End);
    QTest::keyClick(dictionary->editor(), Qt::Key_Return);
    QTest::keyClicks(dictionary->editor(), u"  Zoe "_qs);
    QTest::keyClick(dictionary->editor(), Qt::Key_Return);
    EXPECT_EQ(settings.vocabulary(), (QStringList{u"Kubernetes"_qs, u"Anya"_qs, u"Zoe"_qs}));
}

TEST_F(SettingsWindowTest, PrivacyRevealsTheLogFolderAndDeletesEverythingAfterAsking)
{
    HistoryEntry entry = cleaned(u"one"_qs, u"One."_qs);
    history.add(entry);
    SettingsWindow& settingsWindow = open();
    PrivacyTab* privacy = settingsWindow.privacy();
    settingsWindow.tabs()->setCurrentWidget(privacy);

    EXPECT_EQ(privacy->revealLog()->text(), u"Open Containing Folder"_qs);
    QTest::mouseClick(privacy->revealLog(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(dir.filePath(u"logs"_qs)));
    EXPECT_TRUE(QFileInfo(dir.filePath(u"logs"_qs)).isDir());
    EXPECT_FALSE(privacy->revealProblem()->isVisible());

    opens = false;
    QTest::mouseClick(privacy->revealLog(), Qt::LeftButton);
    EXPECT_TRUE(privacy->revealProblem()->isVisible());
    EXPECT_TRUE(privacy->revealProblem()->text().startsWith(u"No file manager could open "_qs));

    QTest::mouseClick(privacy->deleteAll(), Qt::LeftButton);
    DeleteAllDialog* confirm = privacy->findChild<DeleteAllDialog*>();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->windowTitle(), u"Delete all dictations?"_qs);
    EXPECT_EQ(confirm->informativeText(),
              u"This removes every dictation from History on this computer. It can't be undone."_qs);
    EXPECT_EQ(history.entries().size(), 1); // nothing yet
    QTest::mouseClick(static_cast<QPushButton*>(confirm->deleteButton()), Qt::LeftButton);
    EXPECT_TRUE(history.entries().isEmpty());

    QTest::mouseClick(privacy->sharing(), Qt::LeftButton);
    EXPECT_TRUE(settings.aiSharingAllowed());
}

TEST_F(SettingsWindowTest, GeneralControlsWriteStraightThrough)
{
    SettingsWindow& settingsWindow = open();
    GeneralTab* general = settingsWindow.general();
    general->trigger()->setCurrentIndex(2);
    EXPECT_EQ(desktopSettings.triggerMode(), TriggerMode::toggle);
    general->appearance()->setCurrentIndex(2);
    EXPECT_EQ(desktopSettings.appearance(), AppearanceSetting::dark);
    EXPECT_EQ(appearance.applied.last(), AppearanceSetting::dark);

    EXPECT_FALSE(general->launchAtLogin()->isChecked());
    QTest::mouseClick(general->launchAtLogin(), Qt::LeftButton);
    EXPECT_TRUE(Permissions::launchesAtLogin());
    QTest::mouseClick(general->launchAtLogin(), Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(Permissions::autostartPath()));
    EXPECT_FALSE(general->launchProblem()->isVisible());

    // Where the entry cannot go, the box keeps the choice and says why it did not work.
    const QString folder = QFileInfo(Permissions::autostartPath()).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTest::mouseClick(general->launchAtLogin(), Qt::LeftButton);
    EXPECT_TRUE(general->launchAtLogin()->isChecked());
    EXPECT_TRUE(general->launchProblem()->isVisible());
    EXPECT_EQ(general->launchProblem()->text(), GeneralTab::launchFailure());
    QFile::remove(folder);

    QTest::mouseClick(general->showSetup(), Qt::LeftButton);
    EXPECT_EQ(setupOpened, 1);
}

} // namespace
