#include "control/SessionCheckpoint.h"

#include "storage/DebugLogFile.h"
#include "storage/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

HistoryEntry dictation(const QString& text)
{
    HistoryEntry entry;
    entry.id = QUuid::createUuid();
    entry.date = QDateTime(QDate(2024, 6, 1), QTime(9, 30, 15, 250), Qt::UTC);
    entry.text = text;
    entry.appName = QStringLiteral("Editor");
    entry.status = HistoryEntry::Status::notInserted;
    return entry;
}

class SessionCheckpointTest : public ::testing::Test
{
protected:
    QString historyFile() const { return QDir(folder).filePath(QStringLiteral("history.json")); }
    QString logText()
    {
        logFile.flush();
        QFile file(*logFile.path());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("Vell"));
    DebugLogFile logFile{dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog log{"history", &logFile};
    SessionCheckpoint checkpoint{folder, log};
};

TEST_F(SessionCheckpointTest, RecoversTheLastSaveAsOneNotInsertedEntry)
{
    HistoryEntry first = dictation(QStringLiteral("first"));
    checkpoint.save(first);
    HistoryEntry last = dictation(QStringLiteral("Cafe\u0301 au lait"));
    last.status = HistoryEntry::Status::pending;
    last.note = QStringLiteral("an older note");
    checkpoint.save(last);

    HistoryStore history(folder, log);
    const HistoryEntry older = dictation(QStringLiteral("older"));
    history.add(older);
    SessionCheckpoint(folder, log).recover(history);

    HistoryEntry expected = last;
    expected.status = HistoryEntry::Status::notInserted;
    expected.note = QString(SessionCheckpoint::kRecoveryNote);
    EXPECT_EQ(history.entries(), (QList<HistoryEntry>{expected, older}));
    EXPECT_EQ(HistoryStore(folder, log).entries(), history.entries());
    EXPECT_FALSE(QFile::exists(checkpoint.filePath()));
    EXPECT_TRUE(logText().contains(QStringLiteral("history: recovered 12 chars from a session that didn't finish")))
        << logText().toStdString();
}

class NothingToRecover : public SessionCheckpointTest, public ::testing::WithParamInterface<const char*>
{};

TEST_P(NothingToRecover, LeavesHistoryAloneAndDropsTheCheckpoint)
{
    if (GetParam()) {
        QDir().mkpath(folder);
        QFile file(checkpoint.filePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam());
    }
    HistoryStore history(folder, log);
    checkpoint.recover(history);

    EXPECT_TRUE(history.entries().isEmpty());
    EXPECT_FALSE(QFile::exists(historyFile()));
    EXPECT_FALSE(QFile::exists(checkpoint.filePath()));
    EXPECT_TRUE(logText().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Checkpoints, NothingToRecover,
    ::testing::Values(
        nullptr, "{\"id\":", "[]",
        R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":1,"text":" \n\t\r\n ","status":"pending"})",
        R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","date":1,"text":"words"})"));

TEST_F(SessionCheckpointTest, StaysUntilTheRecoveredEntryIsSavedAndIsNeverAddedTwice)
{
    const HistoryEntry saved = dictation(QStringLiteral("private words"));
    checkpoint.save(saved);
    {
        HistoryStore history(folder, log);
        ASSERT_TRUE(QDir().mkpath(historyFile())); // the history cannot be written
        checkpoint.recover(history);
        EXPECT_EQ(history.entries().size(), 1);
        EXPECT_TRUE(QFile::exists(checkpoint.filePath()));

        // A later change in the same run gets the entry onto disk.
        ASSERT_TRUE(QDir(historyFile()).removeRecursively());
        history.add(dictation(QStringLiteral("next")));
    }
    HistoryStore relaunched(folder, log);
    checkpoint.recover(relaunched);
    EXPECT_EQ(relaunched.entries().size(), 2);
    EXPECT_FALSE(QFile::exists(checkpoint.filePath()));
    EXPECT_FALSE(logText().contains(QStringLiteral("private")));
}

TEST_F(SessionCheckpointTest, AHistoryStillLoadingIsReadWholeBeforeRecovering)
{
    const HistoryEntry saved = dictation(QStringLiteral("words"));
    checkpoint.save(saved);
    HistoryStore(folder, log).add(saved); // recovered once, and then the run was killed
    HistoryStore history(folder, log, nullptr, StoredFileLoading::inBackground);
    checkpoint.recover(history);
    EXPECT_EQ(history.entries(), QList<HistoryEntry>{saved});
    EXPECT_FALSE(QFile::exists(checkpoint.filePath()));
}

TEST_F(SessionCheckpointTest, ASaveIntoTheFileMadeBeforehandLeavesOnlyTheCheckpoint)
{
    const auto names = [this] { return QDir(folder).entryList(QDir::Files | QDir::Hidden); };
    const QStringList onlyTheCheckpoint{QStringLiteral("session-checkpoint.json")};
    const auto savedText = [this] {
        const std::optional<QByteArray> bytes = PrivateFiles::read(checkpoint.filePath());
        return bytes ? HistoryEntry::fromJson(QJsonDocument::fromJson(*bytes).object()).value_or(HistoryEntry()).text
                     : QString();
    };

    checkpoint.prepare();
    checkpoint.save(dictation(QStringLiteral("first")));
    EXPECT_EQ(savedText(), QStringLiteral("first"));
    checkpoint.prepare();
    checkpoint.save(dictation(QStringLiteral("second"))); // replacing the first
    EXPECT_EQ(savedText(), QStringLiteral("second"));
    EXPECT_EQ(names(), onlyTheCheckpoint);

    // The folder went, and the file made for the next save with it.
    checkpoint.prepare();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    checkpoint.save(dictation(QStringLiteral("third")));
    EXPECT_EQ(savedText(), QStringLiteral("third"));
    EXPECT_EQ(names(), onlyTheCheckpoint);

    checkpoint.prepare();
    checkpoint.clear();
    EXPECT_EQ(names(), QStringList());
}

TEST_F(SessionCheckpointTest, RecoveringRemovesWhatASaveCutShortLeftBeside)
{
    QDir().mkpath(folder);
    for (const char* name : {"session-checkpoint.json.a1B2c3", "session-checkpoint.json.bak", "notes.txt"}) {
        QFile file(QDir(folder).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    HistoryStore history(folder, log);
    checkpoint.recover(history);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              (QStringList{QStringLiteral("notes.txt"), QStringLiteral("session-checkpoint.json.bak")}));
}

TEST_F(SessionCheckpointTest, AFailedSaveIsLoggedWithoutTheWords)
{
    ASSERT_TRUE(QDir().mkpath(checkpoint.filePath()));
    checkpoint.save(dictation(QStringLiteral("private words")));
    const QString logged = logText();
    EXPECT_TRUE(logged.contains(QStringLiteral("Saving the session checkpoint failed: "))) << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("private")));
}

} // namespace
