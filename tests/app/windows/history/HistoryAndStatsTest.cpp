#include "app/windows/WindowsFixture.h"
#include "app/windows/history/DailyWordsChart.h"
#include "app/windows/history/DeleteAllDialog.h"
#include "app/windows/history/HistoryModel.h"
#include "app/windows/history/HistoryRowDelegate.h"
#include "app/windows/history/HistoryWindow.h"
#include "app/windows/history/StatCard.h"
#include "app/windows/history/UsageStatsView.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>

namespace {

class HistoryWindowTest : public WindowsFixture
{
protected:
    HistoryEntry entry(const QString& text, const std::optional<QString>& raw = std::nullopt)
    {
        HistoryEntry made;
        made.id = QUuid::createUuid();
        made.date = QDateTime::currentDateTime();
        made.text = text;
        made.rawText = raw;
        made.appName = u"Editor"_qs;
        made.status = HistoryEntry::Status::pasted;
        return made;
    }

    QStringList shownTexts(HistoryWindow& window)
    {
        QStringList texts;
        for (int row = 0; row < window.model().rowCount(); ++row)
            texts << window.model().entry(row).text;
        return texts;
    }

    QRect rowRect(HistoryWindow& window, int row) { return window.list()->visualRect(window.model().index(row)); }

    QStringList menuItems(HistoryWindow& window, int row)
    {
        window.openRowMenu(rowRect(window, row).center());
        QStringList items;
        if (window.rowMenu())
            for (QAction* action : window.rowMenu()->actions())
                items << action->text();
        return items;
    }

    void trigger(HistoryWindow& window, const QString& item)
    {
        for (QAction* action : window.rowMenu()->actions())
            if (action->text() == item)
                action->trigger();
        window.rowMenu()->close();
    }
};

TEST_F(HistoryWindowTest, SearchIgnoresCaseAndCopyingShowsCopied)
{
    history.add(entry(u"Buy milk and bread"_qs));
    history.add(entry(u"We met with Anya about the budget."_qs, u"we met with anya about the budget"_qs));
    HistoryWindow window(services());
    showActive(window);
    ASSERT_EQ(shownTexts(window).size(), 2);
    EXPECT_FALSE(window.showsEmptyState());

    QTest::keyClicks(window.searchField(), u"BUDGET"_qs);
    EXPECT_EQ(shownTexts(window), QStringList{u"We met with Anya about the budget."_qs});
    window.searchField()->clear();
    QTest::keyClicks(window.searchField(), u"zzz"_qs);
    EXPECT_TRUE(shownTexts(window).isEmpty());
    EXPECT_FALSE(window.showsEmptyState()); // no match is not an empty history
    window.searchField()->clear();
    ASSERT_EQ(shownTexts(window).size(), 2);

    // The copy button of the second row, clicked where it is drawn.
    const QRect button = window.delegate()->copyButtonRect(rowRect(window, 1), false);
    QTest::mouseClick(window.list()->viewport(), Qt::LeftButton, {}, button.center());
    EXPECT_EQ(clipboard.text(), u"Buy milk and bread"_qs);
    EXPECT_TRUE(window.model().index(1).data(HistoryModel::CopiedRole).toBool());
    EXPECT_FALSE(window.model().index(0).data(HistoryModel::CopiedRole).toBool());
}

TEST_F(HistoryWindowTest, TheRowMenuCopiesTheOriginalAndDeletes)
{
    history.add(entry(u"Buy milk"_qs));
    history.add(entry(u"We met Anya."_qs, u"we met anya"_qs));
    HistoryWindow window(services());
    showActive(window);

    ASSERT_EQ(menuItems(window, 0), (QStringList{u"Copy Original Transcript"_qs, u"Delete"_qs}));
    trigger(window, u"Copy Original Transcript"_qs);
    EXPECT_EQ(clipboard.text(), u"we met anya"_qs);

    ASSERT_EQ(menuItems(window, 1), QStringList{u"Delete"_qs}); // no raw text, nothing original to copy
    trigger(window, u"Delete"_qs);
    ASSERT_EQ(history.entries().size(), 1);
    EXPECT_EQ(shownTexts(window), QStringList{u"We met Anya."_qs});

    ASSERT_FALSE(menuItems(window, 0).isEmpty());
    trigger(window, u"Delete"_qs);
    EXPECT_TRUE(history.entries().isEmpty());
    EXPECT_TRUE(window.showsEmptyState()); // at once
    EXPECT_FALSE(window.clearAll()->isEnabled());
}

TEST_F(HistoryWindowTest, SaysWhileHistoryCannotBeSaved)
{
    HistoryWindow window(services());
    showActive(window);
    EXPECT_FALSE(window.fileTrouble()->isVisible());

    const QString blocker = dir.filePath(u"history.json"_qs);
    QFile::remove(blocker);
    ASSERT_TRUE(QDir().mkpath(blocker)); // a folder where the file goes
    history.add(entry(u"one"_qs));
    EXPECT_TRUE(window.fileTrouble()->isVisible());
    EXPECT_TRUE(window.fileTrouble()->text().startsWith(u"History couldn't be saved to disk"_qs))
        << window.fileTrouble()->text().toStdString();

    ASSERT_TRUE(QDir(blocker).removeRecursively());
    history.add(entry(u"two"_qs));
    EXPECT_FALSE(window.fileTrouble()->isVisible());
}

TEST_F(HistoryWindowTest, ClearAllAsksFirst)
{
    history.add(entry(u"one"_qs));
    history.add(entry(u"two"_qs));
    HistoryWindow window(services());
    showActive(window);

    QTest::mouseClick(window.clearAll(), Qt::LeftButton);
    QPointer<DeleteAllDialog> confirm = window.findChild<DeleteAllDialog*>();
    ASSERT_TRUE(confirm);
    QTest::keyClick(confirm, Qt::Key_Escape); // cancelled
    ASSERT_TRUE(QTest::qWaitFor([&] { return !confirm; }, 2000));
    EXPECT_EQ(history.entries().size(), 2);

    QTest::mouseClick(window.clearAll(), Qt::LeftButton);
    confirm = window.findChild<DeleteAllDialog*>();
    ASSERT_TRUE(confirm);
    QTest::mouseClick(static_cast<QPushButton*>(confirm->deleteButton()), Qt::LeftButton);
    EXPECT_TRUE(history.entries().isEmpty());
    EXPECT_TRUE(window.showsEmptyState());
}

TEST(HistoryRowTest, DescribesWhenWhereAndWhatBecameOfIt)
{
    const QDateTime now = QDateTime::currentDateTime();
    HistoryEntry entry;
    entry.date = now;
    entry.appName = u"Editor"_qs;
    entry.status = HistoryEntry::Status::notInserted;
    EXPECT_TRUE(HistoryRowDelegate::describe(entry, now).startsWith(u"Today "_qs));
    EXPECT_TRUE(HistoryRowDelegate::describe(entry, now).endsWith(u" · Editor · Not pasted"_qs));
    entry.date = now.addDays(-1);
    entry.appName.reset();
    entry.status = HistoryEntry::Status::pasted;
    const QString yesterday = HistoryRowDelegate::describe(entry, now);
    EXPECT_TRUE(yesterday.startsWith(u"Yesterday "_qs));
    EXPECT_FALSE(yesterday.contains(u" · "_qs));
}

TEST(HistorySearchTest, MatchesIgnoringCaseAndComposition)
{
    EXPECT_TRUE(HistoryModel::matches(u"we met anya"_qs, u"ANYA"_qs));
    EXPECT_TRUE(HistoryModel::matches(u"Café au lait"_qs, u"cafe\u0301"_qs));
    EXPECT_TRUE(HistoryModel::matches(u"anything"_qs, QString()));
    EXPECT_FALSE(HistoryModel::matches(u"we met anya"_qs, u"anja"_qs));
    // In Turkish the capital of i is İ.
    EXPECT_TRUE(HistoryModel::matches(u"istanbul"_qs, u"İSTANBUL"_qs, QLocale(QLocale::Turkish)));
}

using UsageStatsTest = WindowsFixture;

QStringList figures(const UsageStatsView& view)
{
    QStringList shown;
    for (const StatCard* card : view.cards())
        shown << card->title() + u'|' + card->value() + u'|' + card->caption();
    return shown;
}

TEST_F(UsageStatsTest, NoRecordsShowZerosAndADash)
{
    UsageStatsView view(controller->usage());
    view.show();
    EXPECT_EQ(figures(view), (QStringList{u"Today|0|words"_qs, u"This week|0|words in 0 dictations"_qs,
                                          u"All time|0|"_qs, u"Speaking speed|–|words per minute"_qs,
                                          u"Time saved|0m|vs typing at 40 wpm"_qs, u"Streak|0|days"_qs}));
    ASSERT_EQ(view.chart()->days().size(), 14);
}

TEST_F(UsageStatsTest, ADictationTodayMakesAStreakOfOneDay)
{
    UsageStatsView view(controller->usage());
    view.show();
    QStringList words;
    for (int i = 0; i < 1200; ++i)
        words << u"word"_qs;
    controller->usage().record(words.join(u' '), 300); // 1,200 words in five minutes

    const QLocale locale;
    EXPECT_EQ(figures(view),
              (QStringList{u"Today|"_qs + locale.toString(1200) + u"|words"_qs,
                           u"This week|"_qs + locale.toString(1200) + u"|words in 1 dictation"_qs,
                           u"All time|"_qs + locale.toString(1200) + u'|', u"Speaking speed|240|words per minute"_qs,
                           u"Time saved|25m|vs typing at 40 wpm"_qs, u"Streak|1|day"_qs}));
    EXPECT_EQ(view.chart()->days().last().words, 1200);
}

} // namespace
