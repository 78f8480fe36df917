#include "text/TextInserter.h"

#include "fakes/FakeAccessibility.h"
#include "fakes/FakeClipboard.h"
#include "fakes/FakeKeystrokePoster.h"
#include "fakes/FakeWorkspace.h"
#include "storage/DebugLogFile.h"
#include "storage/VellLog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

// ---- the leading-space rule ----

struct LeadingSpaceCase
{
    std::optional<char32_t> before;
    const char16_t* text;
    bool expected;
};

class LeadingSpaceTest : public ::testing::TestWithParam<LeadingSpaceCase>
{};

TEST_P(LeadingSpaceTest, FollowsTheCharacterBeforeTheCaret)
{
    const LeadingSpaceCase& c = GetParam();
    EXPECT_EQ(TextInserter::needsLeadingSpace(QString::fromUtf16(c.text), c.before), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, LeadingSpaceTest,
                         ::testing::Values(
                             // after a word, closing punctuation or a symbol: a space
                             LeadingSpaceCase{U'o', u"world", true}, LeadingSpaceCase{U'.', u"Next", true},
                             LeadingSpaceCase{U')', u"then", true}, LeadingSpaceCase{U'7', u"apples", true},
                             LeadingSpaceCase{U'\U0001F600', u"nice", true},
                             // after whitespace, at the start or with nothing known: none
                             LeadingSpaceCase{U' ', u"word", false}, LeadingSpaceCase{U'\n', u"word", false},
                             LeadingSpaceCase{U'\t', u"word", false}, LeadingSpaceCase{U'\u00A0', u"word", false},
                             LeadingSpaceCase{std::nullopt, u"word", false},
                             // after any opening character: none
                             LeadingSpaceCase{U'(', u"aside", false}, LeadingSpaceCase{U'[', u"note", false},
                             LeadingSpaceCase{U'{', u"key", false}, LeadingSpaceCase{U'"', u"quote", false},
                             LeadingSpaceCase{U'\'', u"quote", false}, LeadingSpaceCase{U'\u201C', u"quote", false},
                             LeadingSpaceCase{U'\u2018', u"quote", false},
                             // text that starts with punctuation or whitespace, or is empty: never
                             LeadingSpaceCase{U'o', u", and", false}, LeadingSpaceCase{U'o', u"?", false},
                             LeadingSpaceCase{U'o', u"\u2026so", false},
                             LeadingSpaceCase{U'o', u"\u00ABoui\u00BB", false}, LeadingSpaceCase{U'o', u" word", false},
                             LeadingSpaceCase{U'o', u"\nword", false}, LeadingSpaceCase{U'o', u"", false}));

// ---- joining transcript fragments ----

struct JoinCase
{
    const char16_t* piece;
    const char16_t* base;
    const char16_t* expected;
};

class JoinFragmentTest : public ::testing::TestWithParam<JoinCase>
{};

TEST_P(JoinFragmentTest, JoinsOntoTheCommittedText)
{
    const JoinCase& c = GetParam();
    EXPECT_EQ(TextInserter::joinFragment(QString::fromUtf16(c.piece), QString::fromUtf16(c.base)),
              QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, JoinFragmentTest,
    ::testing::Values(JoinCase{u"  world \n", u"hello", u"hello world"}, JoinCase{u"?", u"hello", u"hello?"},
                      JoinCase{u" , then", u"first", u"first, then"}, JoinCase{u"\u2026", u"wait", u"wait\u2026"},
                      JoinCase{u"%", u"50", u"50%"}, JoinCase{u")", u"(a", u"(a)"},
                      // opening brackets are not closing punctuation
                      JoinCase{u"(aside)", u"hello", u"hello (aside)"},
                      // blank pieces leave the base alone
                      JoinCase{u"", u"hello", u"hello"}, JoinCase{u" \n\t ", u"hello", u"hello"},
                      // an empty base takes the trimmed piece
                      JoinCase{u"  hi  ", u"", u"hi"},
                      // a base ending in whitespace keeps it and gets no extra space; it is never trimmed
                      JoinCase{u"next", u"line\n", u"line\nnext"}, JoinCase{u"x", u"trailing ", u"trailing x"},
                      JoinCase{u"b", u"  a", u"  a b"}));

TEST(PasteKeysTest, EachTerminalFamilyGetsThePasteItBinds)
{
    for (const char* name : {"Gnome-terminal", "kitty", "Alacritty", "org.wezfurlong.wezterm", "st-256color"})
        EXPECT_EQ(TextInserter::pasteKeysFor(QString::fromLatin1(name)), PasteKeys::ctrlShiftV) << name;
    for (const char* name : {"XTerm", "UXTerm", "URxvt"})
        EXPECT_EQ(TextInserter::pasteKeysFor(QString::fromLatin1(name)), PasteKeys::shiftInsert) << name;
    for (const char* name : {"Firefox", "", "terminal-notes", "Xterminator"})
        EXPECT_EQ(TextInserter::pasteKeysFor(QString::fromLatin1(name)), PasteKeys::ctrlV) << name;
}

// ---- insertion ----

constexpr qint32 kEditorPid = 4242;

const ClipboardContents kTextAndImage = {
    {QStringLiteral("text/plain"), QByteArrayLiteral("earlier copy")},
    {QStringLiteral("image/png"), QByteArrayLiteral("\x89PNG\r\n\x1a\n-not-really")},
};

class TextInserterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        workspace.frontmost = RunningApplication{kEditorPid, QStringLiteral("Editor"), QStringLiteral("Editor")};
        clipboard.contents = kTextAndImage;
        poster.onPaste = [this] {
            textAtPaste = clipboard.text();
            visibilityAtPaste = clipboard.visibility;
        };
    }

    FakeWorkspace workspace;
    FakeClipboard clipboard;
    FakeAccessibility accessibility;
    FakeKeystrokePoster poster;
    TextInserter inserter{workspace, clipboard, accessibility, poster, 60ms};
    QSignalSpy checked{&inserter, &TextInserter::restoreChecked};
    QString textAtPaste;
    Clipboard::Visibility visibilityAtPaste = Clipboard::Visibility::normal;
};

TEST_F(TextInserterTest, APasteRightAfterTheCheckAheadGoesByItAndALaterOneAsksAgain)
{
    inserter.checkAhead();
    const int asked = workspace.frontmostQueries;
    workspace.grab = KeyboardGrab{}; // too late to be seen
    EXPECT_EQ(inserter.insert(QStringLiteral("quick"), kEditorPid), InsertOutcome{});
    EXPECT_EQ(workspace.frontmostQueries, asked);

    inserter.checkAhead();
    QTest::qWait(int(TextInserter::kCheckedAheadFor.count()) + 20); // past what the check vouches for
    EXPECT_EQ(inserter.insert(QStringLiteral("late"), kEditorPid).kind, InsertOutcome::Kind::keyboardGrabbed);
    EXPECT_EQ(workspace.frontmostQueries, asked + 2);

    // A check is used once.
    workspace.grab.reset();
    inserter.checkAhead();
    inserter.insert(QStringLiteral("once"), kEditorPid);
    workspace.frontmost->pid = 1;
    EXPECT_EQ(inserter.insert(QStringLiteral("twice"), kEditorPid).kind, InsertOutcome::Kind::frontmostChanged);
}

TEST_F(TextInserterTest, PastesConcealedTextWithTheSpaceTheCaretNeeds)
{
    accessibility.before = U'o';
    EXPECT_EQ(inserter.insert(QStringLiteral("world"), kEditorPid), InsertOutcome{});
    EXPECT_EQ(textAtPaste, QStringLiteral(" world"));
    EXPECT_EQ(visibilityAtPaste, Clipboard::Visibility::concealed);
    EXPECT_EQ(accessibility.askedPids, QList<qint32>{kEditorPid});
    EXPECT_EQ(poster.pastes, QList<PasteKeys>{PasteKeys::ctrlV});

    // After a space nothing is added; text starting with punctuation does not even ask.
    accessibility.before = U' ';
    inserter.insert(QStringLiteral("again"), kEditorPid);
    EXPECT_EQ(textAtPaste, QStringLiteral("again"));
    accessibility.askedPids.clear();
    inserter.insert(QStringLiteral(", and more"), kEditorPid);
    EXPECT_EQ(textAtPaste, QStringLiteral(", and more"));
    EXPECT_TRUE(accessibility.askedPids.isEmpty());

    // A field that does not expose its text still gets the paste.
    accessibility.before.reset();
    EXPECT_EQ(inserter.insert(QStringLiteral("word"), kEditorPid), InsertOutcome{});
    EXPECT_EQ(textAtPaste, QStringLiteral("word"));
}

TEST_F(TextInserterTest, TerminalsGetTheTerminalChord)
{
    workspace.frontmost->windowClass = QStringLiteral("Gnome-terminal");
    inserter.insert(QStringLiteral("ls"), kEditorPid);
    EXPECT_EQ(poster.pastes, QList<PasteKeys>{PasteKeys::ctrlShiftV});
}

TEST_F(TextInserterTest, XtermPastesThePrimarySelectionWhichIsThenGivenBack)
{
    FakeClipboard selection;
    selection.contents = {{QStringLiteral("text/plain"), QByteArrayLiteral("highlighted")}};
    TextInserter toXterm{workspace, clipboard, accessibility, poster, 60ms, nullptr, &selection};
    QString selectionAtPaste;
    poster.onPaste = [&] { selectionAtPaste = selection.text(); };
    QSignalSpy restored{&toXterm, &TextInserter::restoreChecked};

    workspace.frontmost->windowClass = QStringLiteral("XTerm");
    EXPECT_EQ(toXterm.insert(QStringLiteral("make test"), kEditorPid), InsertOutcome{});
    EXPECT_EQ(poster.pastes, QList<PasteKeys>{PasteKeys::shiftInsert});
    EXPECT_EQ(selectionAtPaste, u"make test"_qs);
    ASSERT_TRUE(restored.wait(2000));
    EXPECT_EQ(selection.text(), u"highlighted"_qs);
    EXPECT_EQ(clipboard.contents, kTextAndImage);

    // Without a selection to paste from, nothing is posted that xterm would take as something else.
    TextInserter withoutSelection{workspace, clipboard, accessibility, poster, 60ms};
    EXPECT_EQ(withoutSelection.insert(QStringLiteral("make test"), kEditorPid).kind, InsertOutcome::Kind::pasteFailed);
    EXPECT_EQ(poster.pastes.size(), 1);
    EXPECT_EQ(clipboard.contents, kTextAndImage);
}

TEST_F(TextInserterTest, AnotherAppInFrontLeavesTheClipboardUntouched)
{
    workspace.frontmost = RunningApplication{7, QStringLiteral("Browser"), QStringLiteral("Browser")};
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), kEditorPid),
              (InsertOutcome{InsertOutcome::Kind::frontmostChanged, QStringLiteral("Browser")}));

    workspace.frontmost->name.reset();
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), kEditorPid),
              (InsertOutcome{InsertOutcome::Kind::frontmostChanged, std::nullopt}));

    workspace.frontmost = RunningApplication{0, QStringLiteral("Remote"), QStringLiteral("remote")};
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), 0),
              (InsertOutcome{InsertOutcome::Kind::frontmostChanged, QStringLiteral("Remote")}));

    workspace.frontmost.reset();
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), kEditorPid),
              (InsertOutcome{InsertOutcome::Kind::frontmostChanged, std::nullopt}));

    EXPECT_EQ(clipboard.contents, kTextAndImage);
    EXPECT_EQ(clipboard.changes, 0u);
    EXPECT_TRUE(poster.pastes.isEmpty());
}

TEST_F(TextInserterTest, HeldKeyboardIsReportedAndNothingIsTyped)
{
    workspace.grab = KeyboardGrab{RunningApplication{99, QStringLiteral("Password Prompt"), std::nullopt}};
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), kEditorPid),
              (InsertOutcome{InsertOutcome::Kind::keyboardGrabbed, QStringLiteral("Password Prompt")}));
    workspace.grab = KeyboardGrab{};
    EXPECT_EQ(inserter.insert(QStringLiteral("hello"), kEditorPid),
              (InsertOutcome{InsertOutcome::Kind::keyboardGrabbed, std::nullopt}));
    EXPECT_EQ(clipboard.changes, 0u);
    EXPECT_TRUE(poster.pastes.isEmpty());
    EXPECT_TRUE(accessibility.askedPids.isEmpty());
}

TEST_F(TextInserterTest, PreviousContentsComeBackAfterTheDelay)
{
    inserter.insert(QStringLiteral("dictated"), kEditorPid);
    EXPECT_EQ(clipboard.text(), QStringLiteral("dictated"));
    ASSERT_TRUE(checked.wait(2000));
    EXPECT_EQ(checked.takeFirst().at(0).toBool(), true);
    EXPECT_EQ(clipboard.contents, kTextAndImage);
}

TEST_F(TextInserterTest, EmptyClipboardIsEmptyAgain)
{
    clipboard.contents.clear();
    inserter.insert(QStringLiteral("dictated"), kEditorPid);
    EXPECT_EQ(textAtPaste, QStringLiteral("dictated"));
    ASSERT_TRUE(checked.wait(2000));
    EXPECT_TRUE(clipboard.contents.isEmpty());
}

TEST_F(TextInserterTest, NewerCopyIsNotOverwritten)
{
    inserter.insert(QStringLiteral("dictated"), kEditorPid);
    const ClipboardContents newer = {{QStringLiteral("text/plain"), QByteArrayLiteral("copied meanwhile")}};
    clipboard.copy(newer);
    ASSERT_TRUE(checked.wait(2000));
    EXPECT_EQ(checked.takeFirst().at(0).toBool(), false);
    EXPECT_EQ(clipboard.contents, newer);
}

TEST_F(TextInserterTest, QuickInsertionsInARowRestoreTheUsersClipboard)
{
    inserter.insert(QStringLiteral("first"), kEditorPid);
    inserter.insert(QStringLiteral("second"), kEditorPid);
    EXPECT_EQ(textAtPaste, QStringLiteral("second"));
    ASSERT_TRUE(checked.wait(2000));
    EXPECT_EQ(clipboard.contents, kTextAndImage);
    // One check for the pair, not one per insertion.
    EXPECT_FALSE(checked.wait(200));
    EXPECT_EQ(clipboard.restores, 1);
}

TEST_F(TextInserterTest, FailuresLeaveThePreviousContents)
{
    poster.fails = true;
    EXPECT_EQ(inserter.insert(QStringLiteral("dictated"), kEditorPid).kind, InsertOutcome::Kind::pasteFailed);
    EXPECT_EQ(clipboard.contents, kTextAndImage);

    poster.fails = false;
    clipboard.refusesWrites = true;
    EXPECT_EQ(inserter.insert(QStringLiteral("dictated"), kEditorPid).kind, InsertOutcome::Kind::pasteFailed);
    EXPECT_TRUE(poster.pastes.isEmpty());
    EXPECT_FALSE(checked.wait(200));
}

TEST(TextInserterLogTest, NeverHoldsTheDictatedWords)
{
    QTemporaryDir folder;
    DebugLogFile file(folder.path(), QStringLiteral("test"));
    const VellLog log("insert", &file);
    FakeWorkspace workspace;
    workspace.frontmost = RunningApplication{kEditorPid, QStringLiteral("Editor"), std::nullopt};
    FakeClipboard clipboard;
    FakeAccessibility accessibility;
    FakeKeystrokePoster poster;
    TextInserter inserter(workspace, clipboard, accessibility, poster, 10ms, &log);
    QSignalSpy checked(&inserter, &TextInserter::restoreChecked);

    inserter.insert(QStringLiteral("my secret plans"), kEditorPid);
    ASSERT_TRUE(checked.wait(2000));
    workspace.frontmost->pid = 1;
    inserter.insert(QStringLiteral("my secret plans"), kEditorPid);
    file.flush();

    QFile written(*file.path());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray lines = written.readAll();
    EXPECT_TRUE(lines.contains("insert: pasted 15 characters")) << lines.toStdString();
    EXPECT_TRUE(lines.contains("insert: frontmost app changed")) << lines.toStdString();
    EXPECT_FALSE(lines.contains("secret")) << lines.toStdString();
}

} // namespace
