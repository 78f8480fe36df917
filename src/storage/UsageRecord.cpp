#include "storage/UsageRecord.h"

#include "storage/PrivateFiles.h"

#include <QJsonObject>

#include <cmath>

void UsageRecord::appendJson(QByteArray& out) const
{
    out += "{\"date\":";
    PrivateFiles::appendJsonNumber(out, PrivateFiles::toStoredDate(date));
    out += ",\"words\":";
    PrivateFiles::appendJsonNumber(out, words);
    out += ",\"seconds\":";
    PrivateFiles::appendJsonNumber(out, std::isfinite(seconds) ? seconds : 0.0);
    out += '}';
}

std::optional<UsageRecord> UsageRecord::fromJson(const QJsonValue& value, QString* problem)
{
    const auto fail = [problem](const QString& why) -> std::optional<UsageRecord> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (!value.isObject())
        return fail(QStringLiteral("not an object"));
    const QJsonObject object = value.toObject();
    UsageRecord record;

    const QJsonValue date = object.value(QLatin1String("date"));
    const std::optional<QDateTime> stored =
        date.isDouble() ? PrivateFiles::fromStoredDate(date.toDouble()) : std::nullopt;
    if (!stored)
        return fail(QStringLiteral("missing or invalid \"date\""));
    record.date = *stored;

    // Whole numbers only, and only those a double holds exactly.
    constexpr double kLargestExactInteger = 9007199254740992.0;
    const QJsonValue words = object.value(QLatin1String("words"));
    const double count = words.toDouble(0.5);
    if (!words.isDouble() || count != std::floor(count) || std::fabs(count) > kLargestExactInteger)
        return fail(QStringLiteral("missing or invalid \"words\""));
    record.words = static_cast<qint64>(count);

    const QJsonValue seconds = object.value(QLatin1String("seconds"));
    if (!seconds.isDouble())
        return fail(QStringLiteral("missing or invalid \"seconds\""));
    record.seconds = seconds.toDouble();
    return record;
}
