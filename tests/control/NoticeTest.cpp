#include "control/Notice.h"

#include "platform/PlatformVocabulary.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Status = MicrophonePermission::Status;

StartConditions ready(TranscriptionProvider provider)
{
    return {
        .provider = provider, .hasKey = true, .sharingAllowed = true, .online = true, .microphone = Status::granted};
}

} // namespace

TEST(StartCheckTest, TheFirstMissingConditionIsTheRefusal)
{
    EXPECT_EQ(checkStart(ready(TranscriptionProvider::soniox)), std::nullopt);

    // Everything missing at once: the key is named first, then consent, the network, the microphone.
    StartConditions nothing{.provider = TranscriptionProvider::assemblyAI, .online = false};
    EXPECT_EQ(checkStart(nothing), StartRefusal::missingKey);
    nothing.keyLocked = true; // there is a key, behind a locked keyring
    EXPECT_EQ(checkStart(nothing), StartRefusal::keyringLocked);
    nothing.hasKey = true;
    EXPECT_EQ(checkStart(nothing), StartRefusal::needsConsent);
    nothing.sharingAllowed = true;
    EXPECT_EQ(checkStart(nothing), StartRefusal::offline);
    nothing.online = std::nullopt; // not known yet: try rather than refuse
    EXPECT_EQ(checkStart(nothing), StartRefusal::microphoneUndetermined);
    nothing.microphone = Status::denied;
    EXPECT_EQ(checkStart(nothing), StartRefusal::microphoneOff);
}

TEST(StartCheckTest, TheDemoNeedsOnlyTheMicrophone)
{
    StartConditions demo{.provider = TranscriptionProvider::mock, .online = false, .microphone = Status::granted};
    EXPECT_EQ(checkStart(demo), std::nullopt);
    demo.microphone = Status::denied;
    EXPECT_EQ(checkStart(demo), StartRefusal::microphoneOff);
}

TEST(DictationProblemTextTest, ProblemsAreJoinedIntoOneParagraph)
{
    EXPECT_EQ(DictationProblemText::description(DictationProblems{}), std::nullopt);

    const DictationProblems problems{
        MicrophoneFailure{AudioCapture::CaptureError::noAudio, true},
        PasteRefusal{PasteRefusal::Reason::switchedApp, QStringLiteral("Firefox")},
    };
    const QString text = DictationProblemText::description(problems).value();
    EXPECT_TRUE(text.startsWith(u"The microphone stopped: ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith(u" You switched to Firefox, so it wasn't pasted.")) << text.toStdString();
    EXPECT_EQ(DictationProblemText::description(PasteRefusal{PasteRefusal::Reason::switchedApp, std::nullopt}),
              u"You switched to another app, so it wasn't pasted.");
}

TEST(DictationProblemTextTest, TheLogLineCarriesNoServiceText)
{
    const QString secret = QStringLiteral("the words the user said");
    for (const DictationProblem& problem : DictationProblems{
             TranscriptionError::provider(secret),
             CleanupFailure{TextCleaner::CleanupError::http(500, secret)},
             PasteRefusal{PasteRefusal::Reason::switchedApp, secret},
         }) {
        const QString line = DictationProblemText::kind(problem);
        EXPECT_FALSE(line.isEmpty());
        EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
}

class NoticeTest : public ::testing::Test
{
protected:
    const PlatformVocabulary& words = PlatformVocabulary::forLinux();
    Notice notice{words, 40ms, 400ms};
    QSignalSpy changes{&notice, &Notice::changed};
};

TEST_F(NoticeTest, ARefusalNamesTheServiceAndGoesAfterItsTime)
{
    notice.show(NoticeMessage::startRefused(StartRefusal::missingKey, TranscriptionProvider::soniox));
    EXPECT_EQ(notice.text(), u"Add your Soniox (fastest, cheapest) API key in Vell Settings.");
    EXPECT_EQ(notice.detail(), std::nullopt);
    EXPECT_FALSE(notice.isAboutClipboard());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice.text(); }, 2000));
    EXPECT_EQ(changes.size(), 2);
}

TEST_F(NoticeTest, TheClipboardNoticeSaysWhyAndStaysLonger)
{
    notice.show(NoticeMessage::onClipboard({PasteRefusal::Reason::keyboardGrabbed, std::nullopt}));
    EXPECT_EQ(notice.text(), QStringLiteral("On the clipboard. Press %1 to paste.").arg(words.pasteChord));
    EXPECT_EQ(notice.detail(), u"Another program holds the keyboard, so it wasn't pasted.");
    EXPECT_TRUE(notice.isAboutClipboard());
    // Well past the short time, the clipboard notice is still there.
    EXPECT_FALSE(QTest::qWaitFor([&] { return !notice.text(); }, 150));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice.text(); }, 3000));
}

TEST_F(NoticeTest, ANewNoticeReplacesTheOldOneAndRestartsTheTime)
{
    notice.show(NoticeMessage::onClipboard({PasteRefusal::Reason::pasteFailed, std::nullopt}));
    notice.show(NoticeMessage::of(NoticeMessage::Kind::cancelled));
    EXPECT_EQ(notice.text(), u"Cancelled. The text is in History.");
    EXPECT_FALSE(notice.isAboutClipboard());
    // The short time now applies, not the clipboard's.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice.text(); }, 300));

    notice.clear(); // nothing showing: no change to report
    EXPECT_EQ(changes.size(), 3);
}
