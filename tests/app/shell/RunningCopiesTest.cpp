#include "app/shell/RunningCopies.h"

#include "storage/DebugLogFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class RunningCopiesTest : public ::testing::Test
{
protected:
    QString logText()
    {
        logFile.flush();
        QFile file(*logFile.path());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("vell/_0"));
    DebugLogFile logFile{dir.filePath(QStringLiteral("log")), QStringLiteral("test")};
    VellLog log{"app", &logFile};
};

TEST_F(RunningCopiesTest, TheNewestCopyAsksOlderOnesToQuitAndKeepsRunning)
{
    RunningCopies oldest(folder, {1000, 11}, log);
    RunningCopies older(folder, {2000, 22}, log);
    ASSERT_TRUE(oldest.start());
    ASSERT_TRUE(older.start());
    QSignalSpy oldestQuits(&oldest, &RunningCopies::quitRequested);
    QSignalSpy olderQuits(&older, &RunningCopies::quitRequested);
    ASSERT_TRUE(oldestQuits.wait(2000)); // the second one asked the first
    EXPECT_EQ(QFileInfo(folder).permissions() & QFileDevice::ReadOther, 0);

    RunningCopies newest(folder, {3000, 5}, log);
    QSignalSpy newestQuits(&newest, &RunningCopies::quitRequested);
    ASSERT_TRUE(newest.start());
    ASSERT_TRUE(olderQuits.wait(2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logText().contains(u"pid 11"); }, 2000));
    // Nothing marks that no request is coming; give a wrong one the time to arrive.
    EXPECT_FALSE(QTest::qWaitFor([&] { return !newestQuits.isEmpty(); }, 100));
    EXPECT_TRUE(logText().contains(u"app: quitting another running copy, pid 11\n"));
    EXPECT_TRUE(logText().contains(u"app: quitting another running copy, pid 22\n"));
}

TEST_F(RunningCopiesTest, ACopyThatSeesANewerOneQuitsItself)
{
    // Two copies started together: the older one may list the folder last.
    RunningCopies newer(folder, {5000, 2}, log);
    RunningCopies older(folder, {5000, 1}, log); // same moment, lower pid
    QSignalSpy newerQuits(&newer, &RunningCopies::quitRequested);
    QSignalSpy olderQuits(&older, &RunningCopies::quitRequested);
    ASSERT_TRUE(newer.start());
    ASSERT_TRUE(older.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return olderQuits.size() == 1; }, 2000));
    // Nothing marks that no request is coming; give a wrong one the time to arrive.
    EXPECT_FALSE(QTest::qWaitFor([&] { return !newerQuits.isEmpty(); }, 100));
}

TEST_F(RunningCopiesTest, LeftoverSocketsAreRemovedAndCopiesElsewhereLeftAlone)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString leftover = folder + QStringLiteral("/100-4242.socket");
    {
        QFile file(leftover);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    RunningCopies elsewhere(dir.filePath(QStringLiteral("vell/_1")), {100, 7}, log);
    ASSERT_TRUE(elsewhere.start());
    QSignalSpy elsewhereQuits(&elsewhere, &RunningCopies::quitRequested);

    RunningCopies copy(folder, {200, 8}, log);
    ASSERT_TRUE(copy.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(leftover); }, 2000));
    // Nothing marks that no request is coming; give a wrong one the time to arrive.
    EXPECT_FALSE(QTest::qWaitFor([&] { return !elsewhereQuits.isEmpty(); }, 100));
    EXPECT_FALSE(logText().contains(u"quitting another running copy"));

    EXPECT_EQ(RunningCopies::parseSocketName(u"123-45.socket"_qs), (RunningCopies::Identity{123, 45}));
    EXPECT_FALSE(RunningCopies::parseSocketName(u"123-45.socket.tmp"_qs));
    EXPECT_FALSE(RunningCopies::parseSocketName(u"x-45.socket"_qs));
}

} // namespace
