#include "fakes/FakeAppearance.h"
#include "fakes/FakeSecretStore.h"
#include "storage/AppSettings.h"
#include "storage/DebugLogFile.h"
#include "storage/DesktopSettings.h"
#include "storage/HistoryStore.h"
#include "storage/KeyStore.h"
#include "storage/UsageLog.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Files exactly as released versions of Vell wrote them. Every one must keep
// loading: users upgrade with their preferences, history and statistics in
// place.
namespace {

const QByteArray kPreferences = R"ini([General]
appearance=dark
aiSharingAllowed=true
cleanupEnabled=false
cleanupModel=opus
dismissedSuggestions=Kubernetes
historyRetention=week
inputDeviceUID=alsa_input.usb-Blue_Yeti-00.analog-stereo
interactionSounds=false
macSetupDone=true
pinnedLanguage=de
preferBuiltInMic=true
provider=soniox
shortcut="@ByteArray({\"keyCode\":49,\"keyLabel\":\"Space\",\"modifiers\":65})"
triggerMode=toggle
vocabulary=Vell, Soniox, Brightfold
)ini";

// Newest first, as the history is kept.
const QByteArray kHistory =
    R"([{"id":"0A1B2C3D-0000-4000-8000-000000000001","date":786286800,"text":"Noch ein Satz.",)"
    R"("status":"notInserted","note":"You switched to Terminal, so it wasn't pasted."},)"
    R"({"id":"6F1C2B8E-4F7A-4C1E-9B7D-1A2B3C4D5E6F","date":786283200.25,"text":"Ship the build on Friday.",)"
    R"("rawText":"ship the build on friday","appName":"Firefox","status":"pasted","seconds":3.5,)"
    R"("language":"en","provider":"soniox","cleanupModel":"haiku","cleanupSeconds":0.8,)"
    R"("inputName":"Blue Yeti","sessionID":"s-1"}])";

const QByteArray kUsage = R"([{"date":786283200.25,"words":5,"seconds":3.5},{"date":786286800,"words":3,"seconds":2}])";

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class StoredFilesTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    DebugLogFile logFile{dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog log{"storage", &logFile};
};

TEST_F(StoredFilesTest, AReleasedPreferenceFileLoadsUnchanged)
{
    const QString path = dir.filePath(QStringLiteral("Vell.conf"));
    write(path, kPreferences);
    QSettings store(path, QSettings::IniFormat);
    KeyStore keys(std::make_unique<FakeSecretStore>(), dir.filePath(QStringLiteral("keys.json")), log);
    FakeAppearance appearance;

    const AppSettings app(store, keys);
    EXPECT_EQ(app.provider(), TranscriptionProvider::soniox);
    EXPECT_EQ(app.pinnedLanguage(), u"de"_qs);
    EXPECT_EQ(app.vocabulary(), (QStringList{u"Vell"_qs, u"Soniox"_qs, u"Brightfold"_qs}));
    EXPECT_FALSE(app.cleanupEnabled());
    EXPECT_EQ(app.cleanupModel(), CleanupModel::opus);
    EXPECT_TRUE(app.aiSharingAllowed());
    EXPECT_FALSE(app.interactionSounds());
    EXPECT_TRUE(app.preferBuiltInMic());
    EXPECT_EQ(app.historyRetention(), HistoryRetention::week);
    EXPECT_EQ(app.dismissedSuggestions(), QStringList{u"Kubernetes"_qs});

    const DesktopSettings desktop(store, appearance);
    EXPECT_EQ(desktop.shortcut().keyCode, 49);
    EXPECT_EQ(desktop.shortcut().modifiers, ModifierKeys::leftControl | ModifierKeys::leftSuper);
    EXPECT_EQ(desktop.triggerMode(), TriggerMode::toggle);
    EXPECT_EQ(desktop.appearance(), AppearanceSetting::dark);
    EXPECT_EQ(desktop.inputDeviceUID(), u"alsa_input.usb-Blue_Yeti-00.analog-stereo"_qs);
    // Setup is not asked for again.
    EXPECT_TRUE(store.value(QStringLiteral("macSetupDone")).toBool());

    // Loading writes nothing back.
    store.sync();
    EXPECT_EQ(read(path), kPreferences);
}

TEST_F(StoredFilesTest, AReleasedHistoryAndUsageLoadUnchanged)
{
    write(dir.filePath(QStringLiteral("history.json")), kHistory);
    write(dir.filePath(QStringLiteral("usage.json")), kUsage);

    const HistoryStore history(dir.path(), log);
    ASSERT_EQ(history.entries().size(), 2);
    const HistoryEntry& newest = history.entries().front();
    const HistoryEntry& oldest = history.entries().back();
    EXPECT_EQ(oldest.id, QUuid(u"6F1C2B8E-4F7A-4C1E-9B7D-1A2B3C4D5E6F"_qs));
    EXPECT_EQ(oldest.date, QDateTime(QDate(2025, 12, 1), QTime(12, 0, 0, 250), Qt::UTC));
    EXPECT_EQ(oldest.rawText, u"ship the build on friday"_qs);
    EXPECT_EQ(oldest.appName, u"Firefox"_qs);
    EXPECT_EQ(oldest.status, HistoryEntry::Status::pasted);
    EXPECT_EQ(oldest.cleanupSeconds, 0.8);
    EXPECT_EQ(oldest.sessionID, u"s-1"_qs);
    EXPECT_EQ(newest.status, HistoryEntry::Status::notInserted);
    EXPECT_EQ(newest.note, u"You switched to Terminal, so it wasn't pasted."_qs);
    EXPECT_EQ(newest.rawText, std::nullopt);

    const UsageLog usage(dir.path(), UsageLog::Clock::system(), log);
    ASSERT_EQ(usage.records().size(), 2);
    EXPECT_EQ(usage.records().front(),
              (UsageRecord{QDateTime(QDate(2025, 12, 1), QTime(12, 0, 0, 250), Qt::UTC), 5, 3.5}));
    EXPECT_EQ(usage.records().back().words, 3);

    // Nothing was set aside as unreadable, and nothing rewritten.
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*-*.json")}), QStringList());
    EXPECT_EQ(read(dir.filePath(QStringLiteral("history.json"))), kHistory);
    EXPECT_EQ(read(dir.filePath(QStringLiteral("usage.json"))), kUsage);
}

} // namespace
