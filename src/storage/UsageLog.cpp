#include "storage/UsageLog.h"

#include <QDir>
#include <QHash>
#include <QSet>

#include <cmath>

namespace {

// Maps instants to calendar days in one time zone. Records come mostly in
// date order, so remembering the last day's bounds spares nearly every
// time-zone lookup.
class DayFinder
{
public:
    explicit DayFinder(QTimeZone zone) : m_zone(std::move(zone)) {}

    QDate dayOf(const QDateTime& instant)
    {
        const qint64 msecs = instant.toMSecsSinceEpoch();
        if (m_day.isValid() && msecs >= m_start && msecs < m_end)
            return m_day;
        const QDate day = instant.toTimeZone(m_zone).date();
        const QDateTime start = day.startOfDay(m_zone);
        const QDateTime end = day.addDays(1).startOfDay(m_zone);
        if (start.isValid() && end.isValid()) {
            m_day = day;
            m_start = start.toMSecsSinceEpoch();
            m_end = end.toMSecsSinceEpoch();
        }
        return day;
    }

private:
    QTimeZone m_zone;
    QDate m_day;
    qint64 m_start = 0;
    qint64 m_end = 0;
};

} // namespace

UsageLog::Clock UsageLog::Clock::system()
{
    return {[] { return QDateTime::currentDateTimeUtc(); }, [] { return QTimeZone::systemTimeZone(); },
            [] { return QLocale().firstDayOfWeek(); }};
}

UsageLog::UsageLog(const QString& folder, Clock clock, const VellLog& log, QObject* parent, StoredFileLoading loading)
    : QObject(parent), m_clock(std::move(clock)), m_log(log),
      m_file(QDir(folder).filePath(QStringLiteral("usage.json")), QStringLiteral("usage"), QStringLiteral("record"),
             log)
{
    PrivateFiles::ensureFolder(folder);
    if (loading == StoredFileLoading::inBackground)
        m_read.start(m_file, this, [this] { finishLoading(); });
    else
        m_records = m_file.load<UsageRecord>();
}

UsageLog::~UsageLog()
{
    // Records made during the load must still reach the file; nobody listens any more.
    blockSignals(true);
    if (isLoaded() || m_records.isEmpty())
        m_read.abandon();
    else
        finishLoading();
}

void UsageLog::record(const QString& text, double seconds)
{
    const qsizetype words = countWords(text);
    if (words == 0)
        return;
    m_records.append({m_clock.now().toUTC(), words, std::isfinite(seconds) && seconds > 0 ? seconds : 0.0});
    Q_EMIT recordsChanged();
    // Writing now would put the new records where the whole log belongs.
    if (isLoaded())
        save();
}

UsageLog::Totals UsageLog::totals(const std::optional<QDateTime>& since) const
{
    const qint64 from = since ? since->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    Totals sum;
    for (const UsageRecord& record : m_records) {
        if (record.date.toMSecsSinceEpoch() < from)
            continue;
        sum.words += record.words;
        sum.dictations += 1;
        sum.seconds += record.seconds;
    }
    return sum;
}

UsageLog::Totals UsageLog::today() const
{
    const QTimeZone zone = m_clock.timeZone();
    return totals(currentDay(zone).startOfDay(zone));
}

UsageLog::Totals UsageLog::thisWeek() const
{
    const QTimeZone zone = m_clock.timeZone();
    const QDate day = currentDay(zone);
    const int daysIntoWeek = (day.dayOfWeek() - m_clock.firstDayOfWeek() + 7) % 7;
    const QDateTime start = day.addDays(-daysIntoWeek).startOfDay(zone);
    return start.isValid() ? totals(start) : totals();
}

QList<UsageLog::DayWords> UsageLog::dailyWords(int days) const
{
    if (days <= 0)
        return {};
    const QTimeZone zone = m_clock.timeZone();
    const QDate last = currentDay(zone);
    const QDateTime firstStart = last.addDays(-(days - 1)).startOfDay(zone);
    const qint64 from = firstStart.isValid() ? firstStart.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();

    DayFinder finder(zone);
    QHash<QDate, qint64> sums;
    for (const UsageRecord& record : m_records)
        if (record.date.toMSecsSinceEpoch() >= from)
            sums[finder.dayOf(record.date)] += record.words;

    QList<DayWords> series;
    series.reserve(days);
    for (int i = days - 1; i >= 0; --i) {
        const QDate day = last.addDays(-i);
        if (day.isValid())
            series.append({day, sums.value(day)});
    }
    return series;
}

int UsageLog::streak() const
{
    const QTimeZone zone = m_clock.timeZone();
    DayFinder finder(zone);
    QSet<QDate> recorded;
    for (const UsageRecord& record : m_records)
        recorded.insert(finder.dayOf(record.date));

    QDate day = currentDay(zone);
    if (!recorded.contains(day))
        day = day.addDays(-1);
    int count = 0;
    while (day.isValid() && recorded.contains(day)) {
        ++count;
        day = day.addDays(-1);
    }
    return count;
}

qsizetype UsageLog::countWords(QStringView text)
{
    qsizetype words = 0;
    bool pieceCounted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (QChar::isSpace(c))
            pieceCounted = false;
        else if (!pieceCounted && QChar::isLetterOrNumber(c)) {
            ++words;
            pieceCounted = true;
        }
    }
    return words;
}

std::optional<qint64> UsageLog::wordsPerMinute(qint64 words, double seconds)
{
    if (!(seconds >= kMinimumSecondsForSpeed))
        return std::nullopt;
    const double speed = double(words) / (seconds / 60.0);
    if (!std::isfinite(speed))
        return std::nullopt;
    return std::llround(speed);
}

double UsageLog::secondsSaved(qint64 words, double seconds)
{
    const double saved = double(words) / kTypingWordsPerMinute * 60.0 - seconds;
    return saved > 0 ? saved : 0.0;
}

QString UsageLog::formatTimeSaved(double seconds, const QLocale& locale)
{
    // Beyond this the hours no longer fit a whole number.
    constexpr double kLongestSeconds = 1e15;
    if (!std::isfinite(seconds) || seconds < 0 || seconds > kLongestSeconds)
        return QStringLiteral("0m");
    const auto whole = static_cast<qint64>(seconds);
    const QString minutes = locale.toString(seconds >= kHoursThresholdSeconds ? whole % 3600 / 60 : whole / 60);
    if (seconds < kHoursThresholdSeconds)
        return minutes + QLatin1Char('m');
    return locale.toString(whole / 3600) + QStringLiteral("h ") + minutes + QLatin1Char('m');
}

QDate UsageLog::currentDay(const QTimeZone& zone) const
{
    return m_clock.now().toTimeZone(zone).date();
}

void UsageLog::finishLoading()
{
    std::optional<JsonArrayFileRead<UsageRecord>::Result> read = m_read.take();
    if (!read)
        return;
    m_file = std::move(read->file);
    const bool recordedMeanwhile = !m_records.isEmpty();
    m_records = std::move(read->items) + m_records;
    if (m_records.isEmpty())
        return;
    Q_EMIT recordsChanged();
    if (recordedMeanwhile)
        save();
}

void UsageLog::save()
{
    // Records are only appended, so the encoding so far stays valid: encode only the new ones.
    if (m_encoded.isEmpty())
        m_encoded += '[';
    for (; m_encodedRecords < m_records.size(); ++m_encodedRecords) {
        if (m_encodedRecords > 0)
            m_encoded += ',';
        m_records.at(m_encodedRecords).appendJson(m_encoded);
    }
    m_encoded += ']';
    const bool wasUnsaved = m_file.hasUnsavedChanges();
    m_file.write(m_encoded);
    if (m_file.hasUnsavedChanges() != wasUnsaved)
        Q_EMIT unsavedChangesChanged();
    m_encoded.chop(1);
}
