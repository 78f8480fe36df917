#include "app/windows/history/UsageStatsView.h"

#include "app/widgets/WindowStyle.h"
#include "app/windows/history/DailyWordsChart.h"
#include "app/windows/history/StatCard.h"
#include "storage/UsageLog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

UsageStatsView::UsageStatsView(UsageLog& usage, QWidget* parent)
    : QWidget(parent), m_usage(usage), m_chart(new DailyWordsChart(this))
{
    setWindowTitle(QStringLiteral("Vell Stats"));

    auto* grid = new QGridLayout;
    grid->setSpacing(10);
    const QStringList titles{QStringLiteral("Today"),          QStringLiteral("This week"),  QStringLiteral("All time"),
                             QStringLiteral("Speaking speed"), QStringLiteral("Time saved"), QStringLiteral("Streak")};
    for (qsizetype i = 0; i < titles.size(); ++i) {
        auto* card = new StatCard(titles[i], this);
        m_cards.append(card);
        grid->addWidget(card, int(i / 3), int(i % 3));
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Last 14 days"), this));
    layout->addWidget(m_chart, 1);

    connect(&m_usage, &UsageLog::recordsChanged, this, &UsageStatsView::refresh);
    refresh();
    resize(600, 560);
}

void UsageStatsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A day may have turned since the last look.
    refresh();
}

void UsageStatsView::refresh()
{
    const QLocale locale;
    const UsageLog::Totals today = m_usage.today();
    const UsageLog::Totals week = m_usage.thisWeek();
    const UsageLog::Totals all = m_usage.allTime();
    const std::optional<qint64> speed = UsageLog::wordsPerMinute(all.words, all.seconds);
    const int streak = m_usage.streak();

    m_cards[0]->setValue(locale.toString(today.words), QStringLiteral("words"));
    // One dictation is not "1 dictations".
    m_cards[1]->setValue(locale.toString(week.words),
                         QStringLiteral("words in %1 %2")
                             .arg(locale.toString(week.dictations),
                                  week.dictations == 1 ? QStringLiteral("dictation") : QStringLiteral("dictations")));
    m_cards[2]->setValue(locale.toString(all.words), QString());
    m_cards[3]->setValue(speed ? locale.toString(*speed) : QStringLiteral("–"), QStringLiteral("words per minute"));
    m_cards[4]->setValue(UsageLog::formatTimeSaved(UsageLog::secondsSaved(all.words, all.seconds), locale),
                         QStringLiteral("vs typing at %1 wpm").arg(UsageLog::kTypingWordsPerMinute));
    m_cards[5]->setValue(locale.toString(streak), streak == 1 ? QStringLiteral("day") : QStringLiteral("days"));
    m_chart->setDays(m_usage.dailyWords());
}
