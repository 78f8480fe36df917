#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QString>

#include <optional>

// Decodes a stored file that holds one JSON array of items, all or nothing:
// one bad item makes the whole file unreadable, so it is moved aside whole
// rather than saved back without that item. `problem` says what was wrong
// (a position or a key, never a value).
template <typename Item>
std::optional<QList<Item>> decodeJsonArray(const QByteArray& bytes, const QString& itemName, QString& problem)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = error.errorString() + QStringLiteral(" at offset ") + QString::number(error.offset);
        return std::nullopt;
    }
    if (!document.isArray()) {
        problem = QStringLiteral("not a JSON array");
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    QList<Item> items;
    items.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString why;
        std::optional<Item> item = Item::fromJson(array.at(i), &why);
        if (!item) {
            problem = QStringLiteral("%1 %2: %3").arg(itemName).arg(i).arg(why);
            return std::nullopt;
        }
        items.append(std::move(*item));
    }
    return items;
}
