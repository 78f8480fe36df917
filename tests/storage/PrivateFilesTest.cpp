#include "storage/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat status
    {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 0777 : 0;
}

TEST(PrivateFiles, AQuickReplaceIsWholePrivateAndLeavesNothingBeside)
{
    QTemporaryDir scratch;
    const QString folder = scratch.filePath(QStringLiteral("Vell"));
    const QString path = folder + QStringLiteral("/checkpoint.json");

    ASSERT_EQ(PrivateFiles::tryReplace(path, "first"), std::nullopt);
    const QByteArray large(1 << 20, 'x');
    ASSERT_EQ(PrivateFiles::tryReplace(path, large), std::nullopt);
    EXPECT_EQ(PrivateFiles::read(path), large);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("checkpoint.json")});
    EXPECT_TRUE(PrivateFiles::syncToDisk(path));

    QFile::remove(path);
    EXPECT_FALSE(PrivateFiles::syncToDisk(path));
}

TEST(PrivateFiles, AReplaceThatCannotLandLeavesTheOldFile)
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("checkpoint.json"));
    ASSERT_EQ(PrivateFiles::tryReplace(path, "kept"), std::nullopt);
    // A folder where the file would go: the rename cannot replace it.
    const QString blocked = scratch.filePath(QStringLiteral("blocked.json"));
    ASSERT_TRUE(QDir().mkdir(blocked));
    const std::optional<PrivateFiles::WriteError> failure = PrivateFiles::tryReplace(blocked, "lost");
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->description.isEmpty());
    EXPECT_EQ(PrivateFiles::read(path), QByteArray("kept"));
    EXPECT_TRUE(QFileInfo(blocked).isDir());
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("blocked.json"), QStringLiteral("checkpoint.json")}));
}

TEST(PrivateFiles, AReplaceTakesTheNameOfALinkAndLeavesWhereItPointed)
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("checkpoint.json"));
    const QString elsewhere = scratch.filePath(QStringLiteral("elsewhere.json"));
    ASSERT_EQ(PrivateFiles::tryReplace(elsewhere, "theirs"), std::nullopt);
    ASSERT_TRUE(QFile::link(elsewhere, path));

    ASSERT_EQ(PrivateFiles::tryReplace(path, "ours"), std::nullopt);
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(PrivateFiles::read(path), QByteArray("ours"));
    EXPECT_EQ(PrivateFiles::read(elsewhere), QByteArray("theirs"));
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("checkpoint.json"), QStringLiteral("elsewhere.json")}));
}

} // namespace
