#pragma once

#include "storage/JsonArrayFile.h"
#include "storage/PrivateFiles.h"
#include "storage/UsageRecord.h"
#include "storage/VellLog.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QTimeZone>

#include <functional>
#include <optional>

// Words and speaking time of every finished dictation, oldest first, kept in
// usage.json in its folder, and the figures computed from them.
//
// Main thread only. Loads at construction, or starts loading on a thread of
// its own (records made meanwhile are kept, joined to the loaded ones and only
// then written, also when the log is destroyed first): a missing file gives an empty log;
// a file that cannot be read or decoded is logged and renamed to
// "usage-<unix seconds>.json" beside it, never written over. Each record
// writes the whole file atomically; when that fails the record stays in
// memory, hasUnsavedChanges() turns true and the next record tries again.
// recordsChanged fires for every record added.
class UsageLog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<UsageRecord> records READ records NOTIFY recordsChanged)

public:
    static constexpr int kTypingWordsPerMinute = 40;
    static constexpr double kMinimumSecondsForSpeed = 10;
    static constexpr int kSeriesDays = 14;
    static constexpr double kHoursThresholdSeconds = 3600;

    // Where "now" and the user's days and weeks come from; read at every call,
    // so a change of time zone or locale applies at once.
    struct Clock
    {
        std::function<QDateTime()> now;
        std::function<QTimeZone()> timeZone;
        std::function<Qt::DayOfWeek()> firstDayOfWeek;

        // The system clock, time zone and the default locale's first weekday.
        static Clock system();
    };

    struct Totals
    {
        qint64 words = 0;
        qint64 dictations = 0;
        double seconds = 0;

        bool operator==(const Totals&) const = default;
    };

    struct DayWords
    {
        QDate day;
        qint64 words = 0;

        bool operator==(const DayWords&) const = default;
    };

    explicit UsageLog(const QString& folder = PrivateFiles::dataFolder(), Clock clock = Clock::system(),
                      const VellLog& log = VellLog::usage(), QObject* parent = nullptr,
                      StoredFileLoading loading = StoredFileLoading::now);
    ~UsageLog() override;

    const QList<UsageRecord>& records() const { return m_records; }
    const QString& filePath() const { return m_file.path(); }
    bool hasUnsavedChanges() const { return m_file.hasUnsavedChanges(); }
    bool isLoaded() const { return !m_read.isRunning(); }
    // The name an unreadable usage file was moved aside under at load.
    const std::optional<QString>& setAsideAs() const { return m_file.setAsideAs(); }

    // Appends a record dated now, unless the text has no word. Seconds that
    // are negative or not a number are kept as 0.
    void record(const QString& text, double seconds);

    // Over the records dated on or after `since`; all records without it.
    Totals totals(const std::optional<QDateTime>& since = std::nullopt) const;
    Totals today() const;
    // From the start of the week that holds today, by the first weekday.
    Totals thisWeek() const;
    Totals allTime() const { return totals(); }

    // `days` calendar days ending with today, oldest first; 0 for a day without records.
    QList<DayWords> dailyWords(int days = kSeriesDays) const;
    // Consecutive days with a record, ending today, or yesterday when today has none yet.
    int streak() const;

    // Whitespace-separated pieces that hold at least one letter or number.
    static qsizetype countWords(QStringView text);
    // Words per minute rounded half away from zero; none below kMinimumSecondsForSpeed.
    static std::optional<qint64> wordsPerMinute(qint64 words, double seconds);
    // Typing time for `words` at kTypingWordsPerMinute minus the speaking time; never negative.
    static double secondsSaved(qint64 words, double seconds);
    // "1h 30m" from kHoursThresholdSeconds on, else "45m"; whole minutes,
    // rounded down; "0m" for anything that is not a duration.
    static QString formatTimeSaved(double seconds, const QLocale& locale = QLocale());

Q_SIGNALS:
    void recordsChanged();
    // hasUnsavedChanges() turned true or false.
    void unsavedChangesChanged();

private:
    void finishLoading();
    void save();
    QDate currentDay(const QTimeZone& zone) const;

    Clock m_clock;
    VellLog m_log;
    QList<UsageRecord> m_records;
    JsonArrayFile m_file;
    JsonArrayFileRead<UsageRecord> m_read;
    // "[" and the records encoded so far, for the next save.
    QByteArray m_encoded;
    qsizetype m_encodedRecords = 0;
};
