#include "storage/DebugLogFile.h"

#include "storage/VellLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

class DebugLogFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("logs/Vell"));
};

TEST_F(DebugLogFileTest, WritesInfoAndErrorLinesButNeverDebug)
{
    DebugLogFile file(folder, QStringLiteral("vell"));
    const VellLog log("dictation", &file);
    log.debug(QStringLiteral("not for the file"));
    log.info(QStringLiteral("Started"));
    log.error(QStringLiteral("Microphone gone"));
    file.flush();

    const QStringList lines = linesOf(*file.path());
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z vell )"));
    EXPECT_TRUE(stamp.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" vell dictation: Started")));
    EXPECT_TRUE(stamp.match(lines[1]).hasMatch());
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" vell dictation: ERROR Microphone gone")));
}

TEST_F(DebugLogFileTest, OnlyTheUserCanReadTheLogAlsoOneAnOlderVersionLeft)
{
    constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    constexpr QFileDevice::Permissions kFolderOwnerOnly = kOwnerOnly | QFileDevice::ExeOwner;
    QDir().mkpath(folder);
    QFile::setPermissions(folder, kFolderOwnerOnly | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString older = QDir(folder).filePath(QStringLiteral("debug.log"));
    QFile file(older);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QFile::setPermissions(older, kOwnerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);

    {
        DebugLogFile log(folder, QStringLiteral("vell"));
        VellLog("dictation", &log).info(QStringLiteral("Started"));
        log.flush();
    }
    // Qt reports the user's bits twice, as owner and as user.
    const auto without = [](QFileDevice::Permissions permissions) {
        return permissions & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    };
    EXPECT_EQ(without(QFileInfo(folder).permissions()), kFolderOwnerOnly);
    EXPECT_EQ(without(QFileInfo(older).permissions()), kOwnerOnly);
    EXPECT_EQ(linesOf(older).size(), 1);
}

TEST_F(DebugLogFileTest, KeepsLinesWholeAndInOrderAcrossThreads)
{
    DebugLogFile file(folder, QStringLiteral("vell"));
    constexpr int kThreads = 4;
    constexpr int kLines = 2000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&file, t] {
            for (int n = 0; n < kLines; ++n)
                file.write(
                    QStringLiteral("test: writer %1 line %2 %3").arg(t).arg(n).arg(QString(40, QLatin1Char('x'))));
        });
    for (std::thread& writer : writers)
        writer.join();
    file.flush();

    const QStringList lines = linesOf(*file.path());
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression shape(QStringLiteral(R"(^\S+ vell test: writer (\d) line (\d+) x{40}$)"));
    std::vector<int> next(kThreads, 0);
    for (const QString& line : lines) {
        const auto match = shape.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int writer = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[writer]++);
    }
}

TEST_F(DebugLogFileTest, RotatesOnlyOnceTheFileHasGrownPastTheLimit)
{
    QDir().mkpath(folder);
    const QString current = QDir(folder).filePath(QStringLiteral("debug.log"));
    const QString previous = QDir(folder).filePath(QStringLiteral("debug.1.log"));
    {
        QFile seed(current);
        ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
        seed.write(QByteArray(DebugLogFile::kRotateAboveBytes, 'a'));
        QFile old(previous);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("stale generation\n");
    }
    DebugLogFile file(folder, QStringLiteral("vell"));

    // Exactly at the limit: appended to, not rotated.
    file.write(QStringLiteral("test: first"));
    file.flush();
    EXPECT_GT(QFileInfo(current).size(), DebugLogFile::kRotateAboveBytes);
    EXPECT_EQ(linesOf(previous), QStringList{QStringLiteral("stale generation")});

    // Past the limit: the old file becomes debug.1.log, replacing the stale one.
    file.write(QStringLiteral("test: second"));
    file.flush();
    const QStringList fresh = linesOf(current);
    ASSERT_EQ(fresh.size(), 1);
    EXPECT_TRUE(fresh[0].endsWith(QStringLiteral("test: second")));
    const QStringList rotated = linesOf(previous);
    ASSERT_FALSE(rotated.isEmpty());
    EXPECT_TRUE(rotated.last().endsWith(QStringLiteral("test: first")));
    EXPECT_TRUE(rotated.first().startsWith(QStringLiteral("aaaa")));
}

TEST_F(DebugLogFileTest, FollowsTheNameWhenAnotherProcessRotatesOrRemovesTheFile)
{
    DebugLogFile file(folder, QStringLiteral("vell"));
    const QString current = *file.path();
    const QString moved = QDir(folder).filePath(QStringLiteral("moved.log"));
    const auto writeAndFlush = [&file](const char* text) {
        file.write(QString::fromLatin1(text));
        file.flush();
    };

    writeAndFlush("test: one");
    ASSERT_TRUE(QFile::rename(current, moved));
    writeAndFlush("test: two");
    ASSERT_TRUE(QFile::remove(current));
    writeAndFlush("test: three");

    ASSERT_EQ(linesOf(moved).size(), 1);
    EXPECT_TRUE(linesOf(moved)[0].endsWith(QStringLiteral("test: one")));
    const QStringList lines = linesOf(current);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("test: three")));
    EXPECT_EQ(QFileInfo(current).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST_F(DebugLogFileTest, AFolderThatCannotBeCreatedDisablesTheFileQuietly)
{
    QFile blocker(dir.filePath(QStringLiteral("logs")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should go

    DebugLogFile file(folder, QStringLiteral("vell"));
    EXPECT_FALSE(file.path().has_value());
    file.write(QStringLiteral("test: dropped"));
    file.flush();
}

TEST_F(DebugLogFileTest, LosesOnlyTheLineThatCannotBeWritten)
{
    DebugLogFile file(folder, QStringLiteral("vell"));
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("debug.log"))); // the log itself cannot be opened
    file.write(QStringLiteral("test: lost"));
    file.flush();
    ASSERT_TRUE(QDir(folder).rmdir(QStringLiteral("debug.log")));

    file.write(QStringLiteral("test: kept"));
    file.flush();
    const QStringList lines = linesOf(*file.path());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("test: kept")));
}

} // namespace
