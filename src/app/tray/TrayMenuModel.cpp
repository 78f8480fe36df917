#include "app/tray/TrayMenuModel.h"

#include "app/widgets/ShownText.h"
#include "control/DictationController.h"
#include "storage/DesktopSettings.h"

#include <QRegularExpression>

using State = DictationState;

TrayMenuModel::Inputs TrayMenuModel::snapshot(DictationController& controller, const PlatformVocabulary& words)
{
    Inputs inputs;
    inputs.state = controller.state();
    inputs.shortcutLabel = controller.desktopSettings().shortcut().label(words);
    inputs.week = controller.usage().thisWeek();
    inputs.hotkeyInstalled = controller.hotkey().isInstalled();
    inputs.keyboardGrabApp = controller.keyboardGrab().app();
    inputs.unseenFailure = controller.unseenFailure();
    inputs.recent = controller.history().entries().mid(0, kRecentRows);
    inputs.words = &words;
    return inputs;
}

QString TrayMenuModel::caption(State state, const QString& shortcutLabel)
{
    switch (state) {
    case State::idle:
        return QStringLiteral("Shortcut: ") + shortcutLabel;
    case State::starting:
        return QStringLiteral("Starting…");
    case State::listening:
        return QStringLiteral("Listening…");
    case State::finishing:
        return QStringLiteral("Finishing…");
    }
    return {};
}

std::optional<QString> TrayMenuModel::weeklySummary(const UsageLog::Totals& week, const QLocale& locale)
{
    if (week.words <= 0)
        return std::nullopt;
    QString saved = UsageLog::formatTimeSaved(UsageLog::secondsSaved(week.words, week.seconds), locale);
    if (saved.isEmpty())
        saved = QStringLiteral("0m");
    return locale.toString(week.words) + QStringLiteral(" words this week · ") + saved + QStringLiteral(" saved");
}

QString TrayMenuModel::unpastedTitle(const UnpastedDictation& failure, const QLocale& locale)
{
    // Some locales' short style still shows seconds; a time of day here does not need them.
    static const QRegularExpression seconds(QStringLiteral("[^Hhm]?ss"));
    const QString format = locale.timeFormat(QLocale::ShortFormat).remove(seconds);
    QString title = QStringLiteral("Not pasted · ") + locale.toString(failure.date.toLocalTime().time(), format);
    if (failure.appName && !failure.appName->isEmpty())
        title += QStringLiteral(" in ") + *failure.appName;
    return title;
}

QString TrayMenuModel::oneLine(const QString& text)
{
    static const QRegularExpression breaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
    return shownPart(text).replace(breaks, QStringLiteral(" ")).trimmed();
}

bool TrayMenuModel::needsAttention(DictationController& controller)
{
    return !controller.hotkey().isInstalled() || controller.keyboardGrab().app().has_value() ||
           controller.unseenFailure().has_value();
}

QList<TrayMenuModel::Row> TrayMenuModel::rows(const Inputs& in)
{
    using Kind = Row::Kind;
    QList<Row> rows;
    rows << Row{Kind::title, QStringLiteral("Vell")};
    rows << Row{Kind::caption, caption(in.state, in.shortcutLabel)};

    if (const std::optional<QString> summary = weeklySummary(in.week, in.locale))
        rows << Row{Kind::summary, *summary};

    if (!in.hotkeyInstalled) {
        rows << Row{Kind::warning, in.words->shortcutBlockedWarning, Symbol::warning};
    } else if (in.keyboardGrabApp) {
        const QString app = in.keyboardGrabApp->isEmpty() ? in.words->unknownProgram : *in.keyboardGrabApp;
        rows << Row{Kind::warning, in.words->keyboardGrabWarning.arg(app), Symbol::lock};
    }

    if (in.unseenFailure) {
        Row card{Kind::unpasted, unpastedTitle(*in.unseenFailure, in.locale), Symbol::notPasted};
        card.copied = in.unpastedCopied;
        rows << card;
    }

    if (in.recent.isEmpty()) {
        rows << Row{Kind::hint, QStringLiteral("Hold ") + in.shortcutLabel +
                                    QStringLiteral(" and speak. Your dictations show up here.")};
    } else {
        rows << Row{Kind::heading, QStringLiteral("Recent")};
        for (const HistoryEntry& entry : in.recent.mid(0, kRecentRows)) {
            Row row{Kind::recent, oneLine(entry.text), Symbol::none, Action::copyEntry, entry.id};
            row.copied = in.copiedEntry == entry.id;
            rows << row;
        }
    }

    rows << Row{Kind::more, QStringLiteral("More")};
    rows << Row{Kind::moreItem, QStringLiteral("History…"), Symbol::none, Action::history};
    rows << Row{Kind::moreItem, QStringLiteral("Stats…"), Symbol::none, Action::stats};
    rows << Row{Kind::moreItem, QStringLiteral("Settings…"), Symbol::none, Action::settings};
    rows << Row{Kind::action, QStringLiteral("About Vell"), Symbol::none, Action::about};
    rows << Row{Kind::action, QStringLiteral("Check for Updates…"), Symbol::none, Action::checkForUpdates};
    rows << Row{Kind::action, QStringLiteral("Set Up Vell…"), Symbol::none, Action::setup};
    rows << Row{Kind::divider};
    rows << Row{Kind::action, QStringLiteral("Quit Vell"), Symbol::none, Action::quit};
    return rows;
}
