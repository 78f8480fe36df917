#include "storage/PreferenceValues.h"

namespace PreferenceValues {

std::optional<bool> toBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<QStringList> toStringList(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QString:
        return QStringList{value.toString()};
    case QMetaType::QVariantList: {
        QStringList strings;
        for (const QVariant& item : value.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            strings.append(item.toString());
        }
        return strings;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> toString(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

void write(QSettings& store, const QString& key, const QVariant& value)
{
    store.setValue(key, value);
    store.sync();
}

void remove(QSettings& store, const QString& key)
{
    store.remove(key);
    store.sync();
}

} // namespace PreferenceValues
