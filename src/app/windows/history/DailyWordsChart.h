#pragma once

#include "storage/UsageLog.h"

#include <QWidget>

// Words per day as bars, oldest day first, with a value axis labelled
// "Words" and the days along the bottom.
class DailyWordsChart : public QWidget
{
    Q_OBJECT

public:
    explicit DailyWordsChart(QWidget* parent = nullptr);

    void setDays(const QList<UsageLog::DayWords>& days);
    const QList<UsageLog::DayWords>& days() const { return m_days; }

    QSize sizeHint() const override { return {520, 220}; }
    QSize minimumSizeHint() const override { return {320, 160}; }

    // The top of the value axis for a largest value: a round number at or above it.
    static qint64 axisMaximum(qint64 largest);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<UsageLog::DayWords> m_days;
};
