#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <optional>

// Reading and writing typed values in the preference store. The store's file
// keeps no types: a Boolean is the text "true" or "false", a one-element list
// is written like a plain string and an empty list as "@Invalid()". The
// readers undo that and treat anything else as unreadable.
namespace PreferenceValues {

// A Boolean, or none when the value is anything else (a number, another text).
std::optional<bool> toBool(const QVariant& value);

// A list of strings; a plain string is a one-element list. None when the value
// is something else (a byte blob, a map).
std::optional<QStringList> toStringList(const QVariant& value);

// A string; none when the value is a list, a blob or missing.
std::optional<QString> toString(const QVariant& value);

// Stores the value and writes the store out at once.
void write(QSettings& store, const QString& key, const QVariant& value);
void remove(QSettings& store, const QString& key);

} // namespace PreferenceValues
