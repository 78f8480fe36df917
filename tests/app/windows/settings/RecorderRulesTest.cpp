#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeSessionEvents.h"
#include "platform/Permissions.h"
#include "shortcut/HotkeyMonitor.h"
#include "shortcut/ShortcutRecorder.h"
#include "shortcut/StoredKeyCodes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

// The recording rules against the reference words, where Fn exists.
class RecorderRulesTest : public ::testing::Test
{
protected:
    RecorderRulesTest() { recorder.toggle(); }

    FakeKeyboardTap tap;
    FakeSessionEvents session;
    HotkeyMonitor hotkey{tap, session};
    ShortcutRecorder recorder{hotkey, Shortcut::defaultShortcut(), PlatformVocabulary::forMacOS()};
    QSignalSpy recorded{&recorder, &ShortcutRecorder::recorded};
};

TEST_F(RecorderRulesTest, FnAloneIsRecordedWithItsAdvice)
{
    recorder.modifiersChanged(ModifierKeys::fn);
    EXPECT_EQ(recorder.title(), u"🌐 Fn"_qs);
    recorder.modifiersChanged({});
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorder.shortcut(), (Shortcut{std::nullopt, std::nullopt, ModifierKeys::fn}));
    EXPECT_EQ(recorder.hint(), PlatformVocabulary::forMacOS().fnKeyHint);
    EXPECT_FALSE(recorder.hint()->isEmpty());
}

TEST_F(RecorderRulesTest, SidesAreKeptForModifiersAloneAndMergedForKeys)
{
    recorder.modifiersChanged(ModifierKeys::leftSuper);
    recorder.modifiersChanged(ModifierKeys::leftSuper | ModifierKeys::rightAlt);
    recorder.modifiersChanged(ModifierKeys::rightAlt);
    EXPECT_EQ(recorder.title(), u"Right ⌥ + Left ⌘"_qs); // the peak, not what is still held
    recorder.modifiersChanged({});
    EXPECT_EQ(recorder.shortcut().label(PlatformVocabulary::forMacOS()), u"Right ⌥ + Left ⌘"_qs);

    recorder.toggle();
    recorder.keyDown(40, ModifierKeys::rightSuper | ModifierKeys::rightShift, u"k"_qs);
    EXPECT_EQ(recorder.shortcut(), (Shortcut{quint16(40), u"K"_qs, ModifierKeys(0xF0)}));
    EXPECT_FALSE(recorder.hint());

    recorder.toggle();
    recorder.keyDown(StoredKeyCodes::escape, ModifierKeys::leftControl | ModifierKeys::fn, {});
    EXPECT_EQ(recorder.shortcut(), (Shortcut{StoredKeyCodes::escape, u"⎋"_qs, ModifierKeys(0x3)})); // never Fn
    EXPECT_EQ(recorded.size(), 3);
}

TEST_F(RecorderRulesTest, EscapeWithOnlyFnCancelsAndAPlainKeyClearsThePeak)
{
    recorder.modifiersChanged(ModifierKeys::leftShift);
    recorder.keyDown(0, ModifierKeys::fn, u"a"_qs); // Fn alone is no modifier for a key
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_TRUE(recorder.peak().isEmpty());
    EXPECT_EQ(recorder.hint(), u"Add a modifier (⌃ ⌥ ⇧ ⌘), use an F-key, or use modifiers alone."_qs);
    EXPECT_TRUE(hotkey.isPaused());

    recorder.keyDown(StoredKeyCodes::escape, ModifierKeys::fn, {});
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(hotkey.isPaused());
    EXPECT_TRUE(recorded.isEmpty());
    EXPECT_EQ(recorder.shortcut(), Shortcut::defaultShortcut());
}

TEST(LaunchAtLoginTest, TheEntryQuotesTheProgramForTheDesktop)
{
    const QByteArray entry = Permissions::autostartEntry(u"/opt/my apps/vell$1 100%\"x\""_qs);
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/opt/my apps/vell\\\\$1 100%%\\\\\"x\\\\\"\"\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
}

TEST(LaunchAtLoginTest, AFailureIsReportedAndNothingIsLeftHalfWritten)
{
    const QString folder = QFileInfo(Permissions::autostartPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).absolutePath()));
    // A file where the folder should be: the entry cannot be written.
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(Permissions::setLaunchAtLogin(true));
    EXPECT_FALSE(Permissions::launchesAtLogin());
    ASSERT_TRUE(QFile::remove(folder));

    ASSERT_TRUE(Permissions::setLaunchAtLogin(true));
    EXPECT_TRUE(Permissions::launchesAtLogin());
    QFile entry(Permissions::autostartPath());
    ASSERT_TRUE(entry.open(QIODevice::Append));
    entry.write("Hidden=true\n"); // switched off by the desktop
    entry.close();
    EXPECT_FALSE(Permissions::launchesAtLogin());
    EXPECT_TRUE(Permissions::setLaunchAtLogin(false));
    EXPECT_FALSE(QFile::exists(Permissions::autostartPath()));
}

} // namespace
