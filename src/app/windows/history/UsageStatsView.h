#pragma once

#include <QWidget>

class DailyWordsChart;
class StatCard;
class UsageLog;

// What the usage log adds up: words today, this week and in all, speaking
// speed, time saved against typing and the streak of days, as six cards, and
// the words of the last fourteen days as a bar chart. Reads the log and
// writes nothing; follows it as records arrive.
class UsageStatsView : public QWidget
{
    Q_OBJECT

public:
    // `usage` must outlive the view.
    explicit UsageStatsView(UsageLog& usage, QWidget* parent = nullptr);

    // In order: Today, This week, All time, Speaking speed, Time saved, Streak.
    const QList<StatCard*>& cards() const { return m_cards; }
    DailyWordsChart* chart() const { return m_chart; }

    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    UsageLog& m_usage;
    QList<StatCard*> m_cards;
    DailyWordsChart* m_chart;
};
