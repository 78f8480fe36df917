#include "storage/UsageLog.h"

#include "storage/DebugLogFile.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QString words(qint64 count)
{
    return QStringList(count, QStringLiteral("word")).join(QLatin1Char(' '));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class UsageLogTest : public ::testing::Test
{
protected:
    std::unique_ptr<UsageLog> open()
    {
        return std::make_unique<UsageLog>(
            folder, UsageLog::Clock{[this] { return now; }, [this] { return zone; }, [this] { return firstDay; }}, log);
    }
    // A dictation of `count` words, `count` seconds long, at `when`.
    void recordAt(UsageLog& usage, const QDateTime& when, qint64 count)
    {
        const QDateTime saved = now;
        now = when;
        usage.record(words(count), double(count));
        now = saved;
    }
    QString file() const { return QDir(folder).filePath(QStringLiteral("usage.json")); }
    QString logText()
    {
        logFile.flush();
        return QString::fromUtf8(readAll(*logFile.path()));
    }

    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("Vell"));
    DebugLogFile logFile{dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog log{"usage", &logFile};
    // Two days after clocks went forward: 2024-03-31 had 23 hours.
    QTimeZone zone{"Europe/Berlin"};
    QDateTime now{QDate(2024, 4, 2), QTime(10, 0), zone};
    Qt::DayOfWeek firstDay = Qt::Monday;
};

class WordCount : public ::testing::TestWithParam<std::pair<const char16_t*, qsizetype>>
{};

TEST_P(WordCount, CountsPiecesWithALetterOrNumber)
{
    EXPECT_EQ(UsageLog::countWords(QStringView(GetParam().first)), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Texts, WordCount,
                         ::testing::Values(std::pair(u"", 0), std::pair(u" \t\n ", 0),
                                           std::pair(u"\u2014 \u2026 !!! \U0001F600\U0001F389", 0),
                                           std::pair(u"don't 3.5 e-mail", 3), std::pair(u"  one\t\ttwo\r\nthree  ", 3),
                                           std::pair(u"a\u00a0b\u3000c\u2028d\u2003e", 5), std::pair(u"a\u200bb", 1),
                                           std::pair(u"\U0001D49C \u0663 \u216b \u00bd", 4),
                                           std::pair(u"\u65e5\u672c\u8a9e", 1), std::pair(u"\u0301 \xd800 -", 0)));

TEST_F(UsageLogTest, RecordsOnlyTextWithWordsAndKeepsItAcrossLaunches)
{
    auto usage = open();
    QSignalSpy changed(usage.get(), &UsageLog::recordsChanged);
    usage->record(QStringLiteral("\u2014 !!! \U0001F600"), 5);
    EXPECT_TRUE(usage->records().isEmpty());
    EXPECT_FALSE(QFile::exists(file()));

    now = now.addMSecs(1);
    usage->record(words(2), -3);
    usage->record(words(3), std::nan(""));
    usage->record(words(1), 2.5);
    EXPECT_EQ(changed.count(), 3);
    const QList<UsageRecord> expected{{now, 2, 0}, {now, 3, 0}, {now, 1, 2.5}};
    EXPECT_EQ(usage->records(), expected);
    EXPECT_EQ(open()->records(), expected);
}

TEST(UsageFigures, WordsPerMinute)
{
    EXPECT_EQ(UsageLog::wordsPerMinute(120, 60), 120);
    EXPECT_EQ(UsageLog::wordsPerMinute(100, 10), 600);
    EXPECT_EQ(UsageLog::wordsPerMinute(5, 120), 3); // 2.5 rounds away from zero
    EXPECT_EQ(UsageLog::wordsPerMinute(100, 9.9), std::nullopt);
    EXPECT_EQ(UsageLog::wordsPerMinute(100, std::nan("")), std::nullopt);
}

class TimeSaved : public ::testing::TestWithParam<std::tuple<qint64, double, const char*>>
{};

TEST_P(TimeSaved, IsShownInHoursFromAnHourOn)
{
    const auto [words, seconds, shown] = GetParam();
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(UsageLog::formatTimeSaved(UsageLog::secondsSaved(words, seconds), english), QString::fromUtf8(shown));
}

INSTANTIATE_TEST_SUITE_P(Figures, TimeSaved,
                         ::testing::Values(std::tuple(400, 300.0, "5m"), std::tuple(4000, 600.0, "1h 30m"),
                                           std::tuple(40, 120.0, "0m"), std::tuple(2400, 0.0, "1h 0m"),
                                           std::tuple(2399, 0.0, "59m"), std::tuple(30, 0.0, "0m"),
                                           std::tuple(24'000'000, 0.0, "10,000h 0m"),
                                           std::tuple(10, std::nan(""), "0m"), std::tuple(10, -INFINITY, "0m")));

class UsagePeriods : public UsageLogTest, public ::testing::WithParamInterface<std::pair<Qt::DayOfWeek, qint64>>
{};

TEST_P(UsagePeriods, FollowTheUsersDaysAndFirstWeekday)
{
    zone = QTimeZone(2 * 3600);
    now = QDateTime(QDate(2024, 6, 9), QTime(0, 30), zone); // a Sunday
    auto usage = open();
    const QDateTime startOfToday(QDate(2024, 6, 9), QTime(0, 0), zone);
    const QDateTime startOfMonday(QDate(2024, 6, 3), QTime(0, 0), zone);
    recordAt(*usage, startOfToday, 1);
    recordAt(*usage, startOfToday.addSecs(-1), 10);
    recordAt(*usage, startOfMonday, 100);
    recordAt(*usage, startOfMonday.addSecs(-1), 1000);
    recordAt(*usage, startOfMonday.addYears(-1), 10000);

    firstDay = GetParam().first;
    const qint64 week = GetParam().second;
    EXPECT_EQ(usage->today(), (UsageLog::Totals{1, 1, 1}));
    EXPECT_EQ(usage->thisWeek().words, week);
    EXPECT_EQ(usage->allTime(), (UsageLog::Totals{11111, 5, 11111}));
}

INSTANTIATE_TEST_SUITE_P(FirstWeekdays, UsagePeriods,
                         ::testing::Values(std::pair(Qt::Monday, 111), std::pair(Qt::Sunday, 1),
                                           std::pair(Qt::Saturday, 11)));

class UsageStreak : public UsageLogTest, public ::testing::WithParamInterface<std::pair<std::vector<int>, int>>
{};

TEST_P(UsageStreak, CountsCalendarDaysEndingTodayOrYesterday)
{
    auto usage = open();
    for (const int day : GetParam().first)
        recordAt(*usage, QDateTime(now.date().addDays(day), QTime(0, 15), zone), 1);
    EXPECT_EQ(usage->streak(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Days, UsageStreak,
                         ::testing::Values(std::pair(std::vector<int>{}, 0), std::pair(std::vector{0}, 1),
                                           std::pair(std::vector{0, -2}, 1), std::pair(std::vector{-1, -2}, 2),
                                           std::pair(std::vector{-5, -3, -2, -1, 0, 0}, 4),
                                           std::pair(std::vector{-2, -3}, 0), std::pair(std::vector{1, -1}, 1)));

TEST_F(UsageLogTest, DailyWordsCoverFourteenDaysEndingToday)
{
    auto usage = open();
    const QMap<int, qint64> byDay{{1, 50}, {0, 5}, {-1, 7}, {-13, 3}, {-14, 100}};
    for (auto it = byDay.cbegin(); it != byDay.cend(); ++it)
        recordAt(*usage, QDateTime(now.date().addDays(it.key()), QTime(0, 15), zone), it.value());
    recordAt(*usage, now, 5);

    QList<UsageLog::DayWords> expected;
    for (int day = -13; day <= 0; ++day)
        expected.append({now.date().addDays(day), byDay.value(day) * (day == 0 ? 2 : 1)});
    EXPECT_EQ(usage->dailyWords(UsageLog::kSeriesDays), expected);
    EXPECT_EQ(usage->dailyWords(1), expected.last(1));
}

TEST_F(UsageLogTest, RecordsMadeDuringABackgroundLoadFollowTheLoadedOnes)
{
    auto usage = open();
    for (int i = 0; i < 1000; ++i)
        usage->record(words(2), 1);
    const QByteArray stored = readAll(file());
    const auto background = [this] {
        return std::make_unique<UsageLog>(folder, UsageLog::Clock::system(), log, nullptr,
                                          StoredFileLoading::inBackground);
    };

    usage = background();
    QSignalSpy changed(usage.get(), &UsageLog::recordsChanged);
    usage->record(words(5), 3);
    EXPECT_EQ(usage->records().size(), 1);
    EXPECT_EQ(readAll(file()), stored);
    ASSERT_TRUE(changed.wait(10000));
    ASSERT_EQ(usage->records().size(), 1001);
    EXPECT_EQ(usage->records().last().words, 5);
    EXPECT_EQ(open()->records(), usage->records());

    // Quitting before the load ends loses nothing.
    usage = background();
    usage->record(words(7), 4);
    usage.reset();
    const QList<UsageRecord> reloaded = open()->records();
    ASSERT_EQ(reloaded.size(), 1002);
    EXPECT_EQ(reloaded.last().words, 7);
}

class UnreadableUsage : public UsageLogTest, public ::testing::WithParamInterface<const char*>
{};

TEST_P(UnreadableUsage, IsMovedAsideWhole)
{
    QDir().mkpath(folder);
    QFile bad(file());
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(GetParam());
    bad.close();

    auto usage = open();
    EXPECT_TRUE(usage->records().isEmpty());
    const QStringList aside = QDir(folder).entryList({QStringLiteral("usage-*.json")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^usage-\d+\.json$)")).match(aside.first()).hasMatch());
    EXPECT_TRUE(logText().contains(QStringLiteral("Usage unreadable, moving aside: ")));

    usage->record(words(2), 1);
    EXPECT_EQ(readAll(QDir(folder).filePath(aside.first())), GetParam());
    EXPECT_EQ(open()->records(), usage->records());
}

INSTANTIATE_TEST_SUITE_P(BadFiles, UnreadableUsage,
                         ::testing::Values(R"([{"date":1,"words":2,"seconds":3},{"date":1,"words":2}])",
                                           R"([{"date":1,"words":2.5,"seconds":3}])",
                                           R"([{"date":"1","words":2,"seconds":3}])", R"({"date":1})"));

TEST_F(UsageLogTest, AFailedWriteKeepsTheRecordForTheNextOne)
{
    auto usage = open();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();

    usage->record(QStringLiteral("private words"), 1);
    EXPECT_EQ(usage->records().size(), 1);
    EXPECT_TRUE(usage->hasUnsavedChanges());
    EXPECT_TRUE(logText().contains(QStringLiteral("Saving usage failed: ")));
    EXPECT_FALSE(logText().contains(QStringLiteral("private")));

    ASSERT_TRUE(blocker.remove());
    usage->record(words(3), 2);
    EXPECT_FALSE(usage->hasUnsavedChanges());
    EXPECT_EQ(open()->records(), usage->records());
}

} // namespace
