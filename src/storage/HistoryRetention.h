#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// How long history entries are kept; stored by its raw value.
enum class HistoryRetention { forever, month, week, never };

inline constexpr std::array kAllHistoryRetentions{HistoryRetention::forever, HistoryRetention::month,
                                                  HistoryRetention::week, HistoryRetention::never};

// How far back `month` and `week` keep entries.
inline constexpr qint64 kMonthRetentionSeconds = 2'592'000;
inline constexpr qint64 kWeekRetentionSeconds = 604'800;

// "forever", "month", "week", "never".
QString toRawValue(HistoryRetention retention);
std::optional<HistoryRetention> historyRetentionFromRawValue(QStringView raw);
