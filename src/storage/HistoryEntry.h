#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <optional>

// One past dictation: a plain value identified by `id`.
//
// Its JSON form is an object with the keys in field order, absent optionals
// omitted, the id as upper-case hyphenated text and the date as seconds since
// 2001-01-01 00:00:00 UTC (millisecond precision).
struct HistoryEntry
{
    enum class Status { pasted, notInserted, cancelled, pending };

    QUuid id{};
    QDateTime date{};
    QString text{};
    std::optional<QString> rawText{};
    std::optional<QString> appName{};
    Status status = Status::pending;
    std::optional<QString> note{};
    std::optional<double> seconds{};
    std::optional<QString> language{};
    std::optional<QString> provider{};
    std::optional<QString> cleanupModel{};
    std::optional<double> cleanupSeconds{};
    std::optional<QString> inputName{};
    std::optional<QString> sessionID{};

    bool operator==(const HistoryEntry&) const = default;

    // The compact JSON object. A duration that is not a finite number is
    // omitted, so the file always reads back.
    QByteArray toJson() const;
    void appendJson(QByteArray& out) const;

    // Reads an object that has "id", "date", "text" and "status" with values
    // of the right types; unknown keys are ignored and a null optional reads
    // as absent. On failure `problem` names the offending key, never a value.
    static std::optional<HistoryEntry> fromJson(const QJsonValue& value, QString* problem = nullptr);

    // "pasted", "notInserted", "cancelled", "pending".
    static QString toRawValue(Status status);
    static std::optional<Status> statusFromRawValue(QStringView raw);
};

size_t qHash(const HistoryEntry& entry, size_t seed = 0);
