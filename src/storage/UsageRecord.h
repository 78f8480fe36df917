#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <optional>

// One finished dictation as the usage figures see it: when, how many words,
// how long the user spoke. Its JSON form is {"date":…,"words":…,"seconds":…},
// the date in seconds since 2001-01-01 00:00:00 UTC.
struct UsageRecord
{
    QDateTime date{};
    qint64 words = 0;
    double seconds = 0;

    bool operator==(const UsageRecord&) const = default;

    // Seconds that are not a finite number are written as 0, so the file always reads back.
    void appendJson(QByteArray& out) const;

    // Reads an object with all three keys: "date" and "seconds" numbers,
    // "words" a whole number. On failure `problem` names the offending key.
    static std::optional<UsageRecord> fromJson(const QJsonValue& value, QString* problem = nullptr);
};
