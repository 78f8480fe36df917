#include "storage/HistoryEntry.h"

#include "storage/PrivateFiles.h"

#include <QJsonObject>

#include <array>
#include <cmath>

namespace {

constexpr std::array kAllStatuses{HistoryEntry::Status::pasted, HistoryEntry::Status::notInserted,
                                  HistoryEntry::Status::cancelled, HistoryEntry::Status::pending};

void appendString(QByteArray& out, const QString& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    // toUtf8 turns a lone surrogate into a replacement character, so the output stays valid UTF-8.
    const QByteArray utf8 = text.toUtf8();
    const char* const end = utf8.cend();
    const char* plain = utf8.cbegin();
    for (const char* at = plain; at != end; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        out.append(plain, at - plain);
        plain = at + 1;
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    out.append(plain, end - plain);
    out += '"';
}

void appendKey(QByteArray& out, const char* key)
{
    out += ",\"";
    out += key;
    out += "\":";
}

void appendOptional(QByteArray& out, const char* key, const std::optional<QString>& value)
{
    if (!value)
        return;
    appendKey(out, key);
    appendString(out, *value);
}

void appendOptional(QByteArray& out, const char* key, const std::optional<double>& value)
{
    if (!value || !std::isfinite(*value))
        return;
    appendKey(out, key);
    PrivateFiles::appendJsonNumber(out, *value);
}

// Only the 36-character hyphenated form; QUuid alone would also take braces.
std::optional<QUuid> uuidFromText(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (hyphen ? c != u'-' : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

// Absent or null reads as none; any other non-string is a failure.
bool readOptional(const QJsonObject& object, QLatin1String key, std::optional<QString>& into)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    into = value.toString();
    return true;
}

bool readOptional(const QJsonObject& object, QLatin1String key, std::optional<double>& into)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return false;
    into = value.toDouble();
    return true;
}

} // namespace

QByteArray HistoryEntry::toJson() const
{
    QByteArray out;
    appendJson(out);
    return out;
}

void HistoryEntry::appendJson(QByteArray& out) const
{
    out += "{\"id\":\"";
    out += id.toByteArray(QUuid::WithoutBraces).toUpper();
    out += "\",\"date\":";
    PrivateFiles::appendJsonNumber(out, PrivateFiles::toStoredDate(date));
    appendKey(out, "text");
    appendString(out, text);
    appendOptional(out, "rawText", rawText);
    appendOptional(out, "appName", appName);
    appendKey(out, "status");
    appendString(out, toRawValue(status));
    appendOptional(out, "note", note);
    appendOptional(out, "seconds", seconds);
    appendOptional(out, "language", language);
    appendOptional(out, "provider", provider);
    appendOptional(out, "cleanupModel", cleanupModel);
    appendOptional(out, "cleanupSeconds", cleanupSeconds);
    appendOptional(out, "inputName", inputName);
    appendOptional(out, "sessionID", sessionID);
    out += '}';
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonValue& value, QString* problem)
{
    const auto fail = [problem](const char* key) -> std::optional<HistoryEntry> {
        if (problem)
            *problem = QStringLiteral("missing or invalid \"%1\"").arg(QLatin1String(key));
        return std::nullopt;
    };
    if (!value.isObject()) {
        if (problem)
            *problem = QStringLiteral("not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    HistoryEntry entry;

    const QJsonValue id = object.value(QLatin1String("id"));
    const std::optional<QUuid> uuid = id.isString() ? uuidFromText(id.toString()) : std::nullopt;
    if (!uuid)
        return fail("id");
    entry.id = *uuid;

    const QJsonValue date = object.value(QLatin1String("date"));
    const std::optional<QDateTime> stored =
        date.isDouble() ? PrivateFiles::fromStoredDate(date.toDouble()) : std::nullopt;
    if (!stored)
        return fail("date");
    entry.date = *stored;

    const QJsonValue text = object.value(QLatin1String("text"));
    if (!text.isString())
        return fail("text");
    entry.text = text.toString();

    const QJsonValue status = object.value(QLatin1String("status"));
    const std::optional<Status> known = status.isString() ? statusFromRawValue(status.toString()) : std::nullopt;
    if (!known)
        return fail("status");
    entry.status = *known;

    if (!readOptional(object, QLatin1String("rawText"), entry.rawText))
        return fail("rawText");
    if (!readOptional(object, QLatin1String("appName"), entry.appName))
        return fail("appName");
    if (!readOptional(object, QLatin1String("note"), entry.note))
        return fail("note");
    if (!readOptional(object, QLatin1String("seconds"), entry.seconds))
        return fail("seconds");
    if (!readOptional(object, QLatin1String("language"), entry.language))
        return fail("language");
    if (!readOptional(object, QLatin1String("provider"), entry.provider))
        return fail("provider");
    if (!readOptional(object, QLatin1String("cleanupModel"), entry.cleanupModel))
        return fail("cleanupModel");
    if (!readOptional(object, QLatin1String("cleanupSeconds"), entry.cleanupSeconds))
        return fail("cleanupSeconds");
    if (!readOptional(object, QLatin1String("inputName"), entry.inputName))
        return fail("inputName");
    if (!readOptional(object, QLatin1String("sessionID"), entry.sessionID))
        return fail("sessionID");
    return entry;
}

QString HistoryEntry::toRawValue(Status status)
{
    switch (status) {
    case Status::pasted:
        return QStringLiteral("pasted");
    case Status::notInserted:
        return QStringLiteral("notInserted");
    case Status::cancelled:
        return QStringLiteral("cancelled");
    case Status::pending:
        return QStringLiteral("pending");
    }
    Q_UNREACHABLE();
}

std::optional<HistoryEntry::Status> HistoryEntry::statusFromRawValue(QStringView raw)
{
    for (const Status status : kAllStatuses)
        if (raw == toRawValue(status))
            return status;
    return std::nullopt;
}

size_t qHash(const HistoryEntry& entry, size_t seed)
{
    // Equal entries share their id, which is enough to spread them.
    return qHash(entry.id, seed);
}
