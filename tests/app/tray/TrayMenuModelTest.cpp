#include "app/tray/TrayMenuModel.h"

#include "app/widgets/ShownText.h"

#include <gtest/gtest.h>

namespace {

using State = DictationState;
using Row = TrayMenuModel::Row;
using Kind = TrayMenuModel::Row::Kind;

TrayMenuModel::Inputs inputs()
{
    TrayMenuModel::Inputs in;
    in.shortcutLabel = QStringLiteral("Right ⌥");
    in.words = &PlatformVocabulary::forMacOS();
    in.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return in;
}

QList<HistoryEntry> entries(int count)
{
    QList<HistoryEntry> result;
    for (int i = 0; i < count; ++i) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.text = QStringLiteral("entry %1").arg(i);
        result << entry;
    }
    return result;
}

QList<Row> ofKind(const QList<Row>& rows, Kind kind)
{
    QList<Row> result;
    for (const Row& row : rows)
        if (row.kind == kind)
            result << row;
    return result;
}

QStringList texts(const QList<Row>& rows)
{
    QStringList result;
    for (const Row& row : rows)
        result << row.text;
    return result;
}

TEST(TrayMenuModelTest, TheHeaderSaysWhatTheControllerIsDoing)
{
    TrayMenuModel::Inputs in = inputs();
    const std::pair<State, QString> cases[] = {{State::idle, QStringLiteral("Shortcut: Right ⌥")},
                                               {State::starting, QStringLiteral("Starting…")},
                                               {State::listening, QStringLiteral("Listening…")},
                                               {State::finishing, QStringLiteral("Finishing…")}};
    for (const auto& [state, caption] : cases) {
        in.state = state;
        const QList<Row> rows = TrayMenuModel::rows(in);
        ASSERT_GE(rows.size(), 2);
        EXPECT_EQ(rows[0], (Row{Kind::title, QStringLiteral("Vell")}));
        EXPECT_EQ(rows[1].kind, Kind::caption);
        EXPECT_EQ(rows[1].text, caption);
    }
}

TEST(TrayMenuModelTest, TheWeeklySummaryCountsWordsAndTimeSaved)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(TrayMenuModel::weeklySummary({400, 3, 120}, english), QStringLiteral("400 words this week · 8m saved"));
    EXPECT_EQ(TrayMenuModel::weeklySummary({12345, 40, 600}, english),
              QStringLiteral("12,345 words this week · 4h 58m saved"));
    // Speaking took longer than typing would have.
    EXPECT_EQ(TrayMenuModel::weeklySummary({10, 1, 600}, english), QStringLiteral("10 words this week · 0m saved"));
    EXPECT_EQ(TrayMenuModel::weeklySummary({0, 2, 30}, english), std::nullopt);

    TrayMenuModel::Inputs in = inputs();
    in.week = {0, 0, 0};
    EXPECT_TRUE(ofKind(TrayMenuModel::rows(in), Kind::summary).isEmpty());
    in.week = {400, 3, 120};
    EXPECT_EQ(texts(ofKind(TrayMenuModel::rows(in), Kind::summary)), QStringList{u"400 words this week · 8m saved"_qs});
}

TEST(TrayMenuModelTest, WarningsExplainWhyTheShortcutDoesNotWork)
{
    TrayMenuModel::Inputs in = inputs();
    EXPECT_TRUE(ofKind(TrayMenuModel::rows(in), Kind::warning).isEmpty());

    in.keyboardGrabApp = QString();
    QList<Row> warnings = ofKind(TrayMenuModel::rows(in), Kind::warning);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings[0].text,
              QStringLiteral("The shortcut is paused while an app has secure input on, as password fields do."));
    EXPECT_EQ(warnings[0].symbol, TrayMenuModel::Symbol::lock);

    in.keyboardGrabApp = QStringLiteral("1Password");
    EXPECT_TRUE(ofKind(TrayMenuModel::rows(in), Kind::warning)[0].text.contains(QStringLiteral("while 1Password has")));

    // A missing keyboard hook is the more basic problem and the only one shown.
    in.hotkeyInstalled = false;
    warnings = ofKind(TrayMenuModel::rows(in), Kind::warning);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings[0].text, QStringLiteral("Allow Accessibility in Settings so the shortcut works."));
    EXPECT_EQ(warnings[0].symbol, TrayMenuModel::Symbol::warning);

    in.words = &PlatformVocabulary::forLinux();
    EXPECT_EQ(ofKind(TrayMenuModel::rows(in), Kind::warning)[0].text,
              PlatformVocabulary::forLinux().shortcutBlockedWarning);
}

TEST(TrayMenuModelTest, RecentDictationsOrAHintWhenThereAreNone)
{
    TrayMenuModel::Inputs in = inputs();
    in.shortcutLabel = PlatformVocabulary::forMacOS().fn;
    QList<Row> rows = TrayMenuModel::rows(in);
    EXPECT_EQ(texts(ofKind(rows, Kind::hint)), QStringList{u"Hold 🌐 Fn and speak. Your dictations show up here."_qs});
    EXPECT_TRUE(ofKind(rows, Kind::heading).isEmpty());

    in.recent = entries(7);
    in.recent[1].text = QStringLiteral("two\nlines");
    in.recent[3].text = QString(20'000'000, u'w'); // a runaway dictation: only its start is laid out
    in.copiedEntry = in.recent[2].id;
    rows = TrayMenuModel::rows(in);
    EXPECT_TRUE(ofKind(rows, Kind::hint).isEmpty());
    EXPECT_EQ(texts(ofKind(rows, Kind::heading)), QStringList{u"Recent"_qs});
    const QList<Row> recent = ofKind(rows, Kind::recent);
    ASSERT_EQ(recent.size(), 5);
    EXPECT_EQ(texts(recent), (QStringList{u"entry 0"_qs, u"two lines"_qs, u"entry 2"_qs,
                                          QString(kShownCharacters, u'w'), u"entry 4"_qs}));
    for (int i = 0; i < recent.size(); ++i) {
        EXPECT_EQ(recent[i].entry, in.recent[i].id);
        EXPECT_EQ(recent[i].action, TrayMenuModel::Action::copyEntry);
        EXPECT_EQ(recent[i].copied, i == 2);
    }
}

TEST(TrayMenuModelTest, TheUnpastedCardSaysWhenAndWhere)
{
    TrayMenuModel::Inputs in = inputs();
    const QDateTime at = QDateTime(QDate(2025, 3, 4), QTime(14, 5));
    in.unseenFailure = UnpastedDictation{QStringLiteral("hello"), QStringLiteral("Editor"),
                                         QStringLiteral("There was no app to paste into."), at};
    const QList<Row> cards = ofKind(TrayMenuModel::rows(in), Kind::unpasted);
    ASSERT_EQ(cards.size(), 1);
    EXPECT_EQ(cards[0].text, QStringLiteral("Not pasted · 2:05 PM in Editor"));
    in.unseenFailure->appName.reset();
    EXPECT_EQ(TrayMenuModel::unpastedTitle(*in.unseenFailure, in.locale), QStringLiteral("Not pasted · 2:05 PM"));
    // The C locale's short style has seconds, which a time of day here leaves out.
    EXPECT_EQ(TrayMenuModel::unpastedTitle(*in.unseenFailure, QLocale::c()), QStringLiteral("Not pasted · 14:05"));
}

TEST(TrayMenuModelTest, CommandsCloseTheMenuInOrder)
{
    const QList<Row> rows = TrayMenuModel::rows(inputs());
    const QList<Row> tail = rows.mid(rows.size() - 9);
    EXPECT_EQ(texts(tail), (QStringList{u"More"_qs, u"History…"_qs, u"Stats…"_qs, u"Settings…"_qs, u"About Vell"_qs,
                                        u"Check for Updates…"_qs, u"Set Up Vell…"_qs, QString(), u"Quit Vell"_qs}));
    EXPECT_EQ(tail[0].kind, Kind::more);
    EXPECT_EQ(tail[7].kind, Kind::divider);
    const std::pair<int, TrayMenuModel::Action> actions[] = {{1, TrayMenuModel::Action::history},
                                                             {2, TrayMenuModel::Action::stats},
                                                             {3, TrayMenuModel::Action::settings},
                                                             {4, TrayMenuModel::Action::about},
                                                             {5, TrayMenuModel::Action::checkForUpdates},
                                                             {6, TrayMenuModel::Action::setup},
                                                             {8, TrayMenuModel::Action::quit}};
    for (const auto& [index, action] : actions)
        EXPECT_EQ(tail[index].action, action) << index;
}

} // namespace
