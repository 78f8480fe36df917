#include "storage/HistoryStore.h"

#include "storage/DebugLogFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2024, 6, 1), QTime(12, 0), Qt::UTC);
constexpr qint64 kDay = 86400;

HistoryEntry entryAt(const QDateTime& date, const QString& text = QStringLiteral("some words"))
{
    return {.id = QUuid::createUuid(), .date = date, .text = text};
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileOf(const QList<HistoryEntry>& entries)
{
    QByteArrayList objects;
    for (const HistoryEntry& entry : entries)
        objects.append(entry.toJson());
    return '[' + objects.join(',') + ']';
}

class HistoryStoreTest : public ::testing::Test
{
protected:
    std::unique_ptr<HistoryStore> open() { return std::make_unique<HistoryStore>(folder, log); }
    QString file() const { return QDir(folder).filePath(QStringLiteral("history.json")); }
    QStringList setAside() const { return QDir(folder).entryList({QStringLiteral("history-*")}); }
    QString logText()
    {
        logFile.flush();
        return QString::fromUtf8(readAll(*logFile.path()));
    }

    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("Vell"));
    DebugLogFile logFile{dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog log{"history", &logFile};
};

TEST_F(HistoryStoreTest, WritesTheCompactFormWithKeysInFieldOrder)
{
    const HistoryEntry entry{.id = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")),
                             .date = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 12, 500), Qt::UTC),
                             .text = QStringLiteral("hi"),
                             .seconds = 2};
    open()->add(entry);
    EXPECT_EQ(readAll(file()), R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":12.5,"text":"hi",)"
                               R"("status":"pending","seconds":2}])");
    const auto ownerGroupOther = QFileDevice::Permissions::fromInt(0x7077);
    EXPECT_EQ(QFile::permissions(file()) & ownerGroupOther, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST_F(HistoryStoreTest, RoundTripsEveryFieldAndKeepsAbsentOptionalsAbsent)
{
    HistoryEntry full{QUuid::createUuid(),
                      kNow.addMSecs(-123'456'789),
                      QStringLiteral("say \"hi\"\\ \u0001\n\t caf\u00e9 \U0001F600 \u2028"),
                      QString(), // present but empty is not absent
                      QStringLiteral("Editor"),
                      HistoryEntry::Status::cancelled,
                      QStringLiteral("note"),
                      3.25,
                      QStringLiteral("en"),
                      QStringLiteral("soniox"),
                      QStringLiteral("haiku"),
                      0.1,
                      QStringLiteral("Mic"),
                      QStringLiteral("s-1")};
    const HistoryEntry bare = entryAt(kNow);
    HistoryEntry notANumber = entryAt(kNow);
    notANumber.seconds = std::nan("");
    {
        auto store = open();
        for (const HistoryEntry& entry : {full, bare, notANumber})
            store->add(entry);
    }
    notANumber.seconds.reset(); // left out, so the file still reads
    EXPECT_EQ(open()->entries(), (QList<HistoryEntry>{notANumber, bare, full}));
    const QJsonArray written = QJsonDocument::fromJson(readAll(file())).array();
    EXPECT_EQ(written.at(1).toObject().size(), 4);
    EXPECT_EQ(written.at(2).toObject().size(), 14);
}

TEST_F(HistoryStoreTest, AMissingFileIsAnEmptyHistoryWithoutAWord)
{
    EXPECT_TRUE(open()->entries().isEmpty());
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_TRUE(logText().isEmpty());
}

class HistoryFile : public HistoryStoreTest, public ::testing::WithParamInterface<std::pair<const char*, bool>>
{};

// %1 is a valid entry; the second one makes or breaks the file.
TEST_P(HistoryFile, IsReadWholeOrMovedAsideWholeAndNeverWrittenOver)
{
    const auto [second, readable] = GetParam();
    const QByteArray bytes =
        QString::fromUtf8(second).arg(QString::fromUtf8(entryAt(kNow, QStringLiteral("private")).toJson())).toUtf8();
    writeAll(file(), bytes);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    auto store = open();
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    EXPECT_EQ(store->entries().size(), readable ? 2 : 0);
    EXPECT_EQ(setAside().size(), readable ? 0 : 1);
    EXPECT_EQ(store->setAsideAs(), readable ? std::nullopt : std::optional<QString>(setAside().value(0)));
    if (readable) {
        EXPECT_EQ(store->entries().last().date, QDateTime(QDate(2001, 1, 1), QTime(0, 1, 40), Qt::UTC));
        EXPECT_EQ(store->entries().last().note, std::nullopt);
        return;
    }
    const auto name = QRegularExpression(QStringLiteral(R"(^history-(\d+)\.json$)")).match(setAside().first());
    ASSERT_TRUE(name.hasMatch()) << setAside().first().toStdString();
    EXPECT_GE(name.captured(1).toLongLong(), before);
    EXPECT_LE(name.captured(1).toLongLong(), after);
    const QString logged = logText();
    EXPECT_TRUE(logged.contains(QStringLiteral("History unreadable, moving aside: "))) << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("private")));

    store->add(entryAt(kNow));
    EXPECT_EQ(readAll(QDir(folder).filePath(setAside().first())), bytes);
    EXPECT_EQ(open()->entries(), store->entries());
}

INSTANTIATE_TEST_SUITE_P(
    Files, HistoryFile,
    ::testing::Values(
        std::pair(R"([%1, {"status":"pasted","text":"t","x":[1],"note":null,"date":100,
                          "id":"0f8fad5b-d9cb-469f-a165-70867728950e"}])",
                  true),
        std::pair(R"([%1,{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":1,"text":"x","status":"sent"}])", false),
        std::pair(R"([%1,{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":1,"status":"pasted"}])", false),
        std::pair(R"([%1,{"id":"{0F8FAD5B-D9CB-469F-A165-70867728950E}","date":1,"text":"x","status":"pasted"}])",
                  false),
        std::pair(R"([%1,{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":"1","text":"x","status":"pasted"}])",
                  false),
        std::pair(R"([%1,{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":1,"text":"x","status":"pasted",
                          "seconds":"2"}])",
                  false),
        std::pair(R"([%1,"x"])", false), std::pair(R"({"entries":[%1]})", false), std::pair(R"([%1,{"id":)", false)));

TEST_F(HistoryStoreTest, AFileThatCannotBeReadIsMovedAsideToo)
{
    QDir().mkpath(file());
    auto store = open();
    EXPECT_EQ(setAside().size(), 1);
    store->add(entryAt(kNow));
    EXPECT_EQ(open()->entries(), store->entries());
}

TEST_F(HistoryStoreTest, AnUnreadableFileThatCannotBeMovedIsNotWrittenOver)
{
    // Long enough that "history.json" fits in a path but "history-<seconds>.json" does not.
    constexpr qsizetype kFolderLength = 4080;
    while (folder.size() < kFolderLength)
        folder += QLatin1Char('/') + QString(std::min<qsizetype>(200, kFolderLength - folder.size() - 1), u'd');
    writeAll(file(), "[{");

    auto store = open();
    store->add(entryAt(kNow));
    EXPECT_EQ(readAll(file()), "[{");
    EXPECT_TRUE(store->hasUnsavedChanges());

    QFile::remove(file()); // the user clears the way
    store->add(entryAt(kNow));
    EXPECT_EQ(open()->entries(), store->entries());
}

class FullHistory : public HistoryStoreTest, public ::testing::WithParamInterface<int>
{};

TEST_P(FullHistory, AnAddKeepsTheNewestTwoThousand)
{
    QList<HistoryEntry> stored;
    for (int i = 0; i < GetParam(); ++i)
        stored.append(entryAt(kNow.addSecs(-i)));
    writeAll(file(), fileOf(stored));
    auto store = open();
    const HistoryEntry newest = entryAt(kNow.addSecs(1));
    store->add(newest);
    const QList<HistoryEntry> kept = QList<HistoryEntry>{newest} + stored.first(std::min(GetParam(), 1999));
    EXPECT_EQ(store->entries(), kept);
    EXPECT_EQ(readAll(file()), fileOf(kept));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FullHistory, ::testing::Values(1999, 2000, 2500));

TEST_F(HistoryStoreTest, EditsWriteAndSignalOnlyWhenTheyShould)
{
    auto store = open();
    HistoryEntry entry = entryAt(kNow);
    entry.note = QStringLiteral("You switched apps");
    store->add(entry);
    store->add(entry);
    QSignalSpy changed(store.get(), &HistoryStore::entriesChanged);
    const auto writes = [this](auto&& edit) {
        QFile::remove(file());
        edit();
        return QFile::exists(file());
    };
    const QUuid unknown = QUuid::createUuid();

    EXPECT_FALSE(writes([&] { store->setStatus(unknown, HistoryEntry::Status::pasted); }));
    EXPECT_FALSE(writes([&] { store->replaceText(unknown, QStringLiteral("x")); }));
    EXPECT_FALSE(writes([&] { store->prune(HistoryRetention::forever, kNow.addYears(9)); }));
    EXPECT_FALSE(writes([&] { store->prune(HistoryRetention::week, kNow); }));
    EXPECT_TRUE(writes([&] { store->setStatus(entry.id, entry.status, entry.note); }));
    EXPECT_EQ(changed.count(), 0);

    EXPECT_TRUE(writes([&] { store->setStatus(entry.id, HistoryEntry::Status::pasted); }));
    EXPECT_EQ(store->entries().first().note, std::nullopt);
    store->replaceText(entry.id, QStringLiteral("cleaned"));
    store->replaceText(entry.id, QStringLiteral("cleaned again"));
    EXPECT_EQ(store->entries().first().rawText, entry.text);
    EXPECT_EQ(store->entries().first().text, QStringLiteral("cleaned again"));
    EXPECT_EQ(store->entries().last(), entry); // only the first with the id
    EXPECT_EQ(open()->entries(), store->entries());

    EXPECT_TRUE(writes([&] { store->remove(entry.id); }));
    EXPECT_TRUE(store->entries().isEmpty());
    EXPECT_TRUE(writes([&] { store->clear(); }));
    EXPECT_EQ(changed.count(), 4);
}

// The app loads history off its start-up path; a dictation may end first.
TEST_F(HistoryStoreTest, ChangesDuringABackgroundLoadAreMadeAgainOnTheLoadedHistory)
{
    QList<HistoryEntry> stored;
    for (int i = 0; i < HistoryStore::kMaximumEntries; ++i)
        stored.append(entryAt(kNow.addSecs(-i)));
    writeAll(file(), fileOf(stored));
    const auto background = [this] {
        return std::make_unique<HistoryStore>(folder, log, nullptr, StoredFileLoading::inBackground);
    };

    auto store = background();
    QSignalSpy finished(store.get(), &HistoryStore::loadFinished);
    HistoryEntry first = entryAt(kNow.addSecs(1), QStringLiteral("first"));
    store->add(first);
    store->setStatus(first.id, HistoryEntry::Status::pasted);
    // A week's retention, a week and 1,000 s on: the stored entries up to 1,000 s old stay.
    store->prune(HistoryRetention::week, kNow.addSecs(7 * kDay - 1000));
    EXPECT_EQ(store->entries().size(), 1);
    EXPECT_FALSE(store->isSaved());
    EXPECT_EQ(readAll(file()), fileOf(stored)); // nothing written over the unread file

    ASSERT_TRUE(finished.wait(10000));
    first.status = HistoryEntry::Status::pasted;
    const QList<HistoryEntry> expected = QList<HistoryEntry>{first} + stored.first(1001);
    EXPECT_EQ(store->entries(), expected);
    EXPECT_EQ(readAll(file()), fileOf(expected));
    EXPECT_TRUE(store->isSaved());

    // Quitting before the load ends still writes the change onto the whole history.
    store = background();
    const HistoryEntry last = entryAt(kNow.addSecs(2), QStringLiteral("last"));
    store->add(last);
    store.reset();
    EXPECT_EQ(open()->entries(), QList<HistoryEntry>{last} + expected);

    // An unreadable file is still moved aside, and the change written without it.
    writeAll(file(), "[{");
    store = background();
    store->add(first);
    store->waitUntilLoaded();
    EXPECT_EQ(setAside().size(), 1);
    EXPECT_TRUE(store->setAsideAs().has_value());
    EXPECT_EQ(readAll(file()), fileOf({first}));
}

class HistoryPruning : public HistoryStoreTest,
                       public ::testing::WithParamInterface<std::pair<HistoryRetention, std::vector<qint64>>>
{};

TEST_P(HistoryPruning, KeepsEntriesNoOlderThanTheCutOff)
{
    const auto& [retention, keptAges] = GetParam();
    QList<HistoryEntry> stored;
    QList<HistoryEntry> kept;
    for (const qint64 age : {-365 * kDay, 0LL, 7 * kDay, 7 * kDay + 1, 30 * kDay, 30 * kDay + 1}) {
        stored.append(entryAt(kNow.addSecs(-age)));
        if (std::find(keptAges.begin(), keptAges.end(), age) != keptAges.end())
            kept.append(stored.last());
    }
    writeAll(file(), fileOf(stored));
    auto store = open();
    store->prune(retention, kNow);
    EXPECT_EQ(store->entries(), kept);
    EXPECT_EQ(readAll(file()), fileOf(kept));
}

INSTANTIATE_TEST_SUITE_P(Retentions, HistoryPruning,
                         ::testing::Values(std::pair(HistoryRetention::month,
                                                     std::vector{-365 * kDay, 0LL, 7 * kDay, 7 * kDay + 1, 30 * kDay}),
                                           std::pair(HistoryRetention::week, std::vector{-365 * kDay, 0LL, 7 * kDay}),
                                           std::pair(HistoryRetention::never, std::vector<qint64>{})));

class FailingHistoryWrite : public HistoryStoreTest, public ::testing::WithParamInterface<std::pair<const char*, bool>>
{};

TEST_P(FailingHistoryWrite, KeepsTheChangeInMemoryAndSavesItWithTheNextChange)
{
    const auto [path, asFolder] = GetParam();
    auto store = open();
    const QString blocker = dir.filePath(QString::fromLatin1(path));
    QDir(blocker).removeRecursively();
    if (asFolder)
        ASSERT_TRUE(QDir().mkpath(blocker));
    else
        writeAll(blocker, "in the way");

    const HistoryEntry first = entryAt(kNow, QStringLiteral("private"));
    store->add(first);
    EXPECT_EQ(store->entries(), QList<HistoryEntry>{first});
    EXPECT_TRUE(store->hasUnsavedChanges());
    const QString logged = logText();
    EXPECT_TRUE(logged.contains(QStringLiteral("Saving history failed: "))) << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("private")));

    QFile::remove(blocker);
    QDir(blocker).removeRecursively();
    const HistoryEntry second = entryAt(kNow);
    store->add(second);
    EXPECT_FALSE(store->hasUnsavedChanges());
    EXPECT_EQ(open()->entries(), (QList<HistoryEntry>{second, first}));
}

INSTANTIATE_TEST_SUITE_P(Blockers, FailingHistoryWrite,
                         ::testing::Values(std::pair("Vell/history.json", true), std::pair("Vell", false)));

} // namespace
