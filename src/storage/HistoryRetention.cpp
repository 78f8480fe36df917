#include "storage/HistoryRetention.h"

QString toRawValue(HistoryRetention retention)
{
    switch (retention) {
    case HistoryRetention::forever:
        return QStringLiteral("forever");
    case HistoryRetention::month:
        return QStringLiteral("month");
    case HistoryRetention::week:
        return QStringLiteral("week");
    case HistoryRetention::never:
        return QStringLiteral("never");
    }
    Q_UNREACHABLE();
}

std::optional<HistoryRetention> historyRetentionFromRawValue(QStringView raw)
{
    for (const HistoryRetention retention : kAllHistoryRetentions)
        if (raw == toRawValue(retention))
            return retention;
    return std::nullopt;
}
