#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The names of an enumeration that is stored by its raw value. `Names`
// derives from EnumTable<Names, Enum> and lists every value, in the order
// pickers show them, as `static constexpr Entry kEntries[]`. A raw value, once
// released, must never change: users' preference files hold it.
template <typename Names, typename Enum> class EnumTable
{
public:
    struct Entry
    {
        Enum value;
        QStringView rawValue;
        QStringView title;
    };

    static QList<Enum> all()
    {
        QList<Enum> values;
        for (const Entry& entry : Names::kEntries)
            values.append(entry.value);
        return values;
    }

    // A value outside the table is stored as the first one.
    static QString rawValue(Enum value)
    {
        const Entry* entry = find(value);
        return (entry ? entry : &Names::kEntries[0])->rawValue.toString();
    }

    static std::optional<Enum> fromRawValue(QStringView raw)
    {
        for (const Entry& entry : Names::kEntries)
            if (entry.rawValue == raw)
                return entry.value;
        return std::nullopt;
    }

    static QString title(Enum value)
    {
        const Entry* entry = find(value);
        return entry ? entry->title.toString() : QString();
    }

private:
    static const Entry* find(Enum value)
    {
        for (const Entry& entry : Names::kEntries)
            if (entry.value == value)
                return &entry;
        return nullptr;
    }
};
