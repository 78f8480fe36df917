#include "e2e/EndToEndFixture.h"
#include "support/PortalDialog.h"

// The real program on a headless GNOME compositor (tests/support/with-mutter)
// with the real RemoteDesktop portal: a native Wayland text field in front,
// the dictation driven with `vell press`/`vell release` as a desktop shortcut
// would, the paste through the portal's keyboard once the user allowed it in
// the desktop's dialog.
namespace {

using namespace e2e;

class GnomeDictationTest : public EndToEndFixture
{
protected:
    void SetUp() override
    {
        EndToEndFixture::SetUp();
        ASSERT_EQ(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), u"GNOME"_qs) << "run under tests/support/with-mutter";
    }

    void TearDown() override
    {
        if (clipboardOwner.state() != QProcess::NotRunning) {
            clipboardOwner.kill();
            clipboardOwner.waitForFinished();
        }
        EndToEndFixture::TearDown();
    }

    void vellCommand(const QString& command)
    {
        QProcess call;
        call.setProcessEnvironment(vellEnvironment());
        call.start(vellBinary(), {command});
        ASSERT_TRUE(call.waitForFinished(10000));
        ASSERT_EQ(call.exitCode(), 0) << call.readAllStandardError().toStdString();
    }

    // The user's clipboard, owned by an X11 program through XWayland, as
    // mutter hands it to Wayland programs.
    void copyAsTheUser(const QString& text)
    {
        clipboardOwner.start(QStringLiteral("xclip"), {u"-quiet"_qs, u"-selection"_qs, u"clipboard"_qs});
        ASSERT_TRUE(clipboardOwner.waitForStarted());
        clipboardOwner.write(text.toUtf8());
        clipboardOwner.closeWriteChannel();
        ASSERT_TRUE(eventually([&] { return clipboardText() == text; }, kSettleLimit));
    }

    static QString clipboardText()
    {
        return QString::fromUtf8(
            run(QStringLiteral("xclip"), {u"-o"_qs, u"-selection"_qs, u"clipboard"_qs}).value_or(QByteArray()));
    }

    // Sets Vell up, and then a native field, which takes the focus from the
    // settings window Vell opens for want of a tray.
    std::unique_ptr<TextFieldProcess> startWithAField()
    {
        startVell("control: serving org.brightfold.Vell on the session bus\n");
        if (::testing::Test::HasFatalFailure())
            return nullptr;
        EXPECT_TRUE(eventually([&] { return debugLog().contains("no system tray; opening the settings window"); },
                               kStartLimit));
        QTest::qWait(1000);
        qputenv("QT_QPA_PLATFORM", "wayland");
        auto field = std::make_unique<TextFieldProcess>(QStringList{u"--class"_qs, u"vell-textfield"_qs});
        qunsetenv("QT_QPA_PLATFORM");
        EXPECT_TRUE(eventually(
            [&] {
                return field->send({{QStringLiteral("do"), QStringLiteral("state")}}).value(u"active"_qs).toBool();
            },
            kStartLimit))
            << "the field never took the focus";
        return field;
    }

    // Starts a dictation as a desktop shortcut would, and answers the
    // desktop's dialog that asks whether Vell may type into other apps.
    void startDictatingAndAnswer(const QString& button)
    {
        ASSERT_NO_FATAL_FAILURE(playSpeech());
        ASSERT_NO_FATAL_FAILURE(vellCommand(u"press"_qs));
        ASSERT_TRUE(answerPortalDialog(qEnvironmentVariable("VELL_PORTAL_DIALOG"), button)) << "no consent dialog\n"
                                                                                            << debugLog().toStdString();
    }

    QProcess clipboardOwner;
};

TEST_F(GnomeDictationTest, AllowedOnceTheDemoIsPastedThroughThePortalIntoANativeField)
{
    const std::unique_ptr<TextFieldProcess> field = startWithAField();
    ASSERT_TRUE(field && field->isRunning());
    const QString before = QStringLiteral("copied before the dictation");
    ASSERT_NO_FATAL_FAILURE(copyAsTheUser(before));

    ASSERT_NO_FATAL_FAILURE(startDictatingAndAnswer(u"Share"_qs));
    ASSERT_TRUE(eventually([&] { return checkpointText() == kWholeScript; }, kStartLimit))
        << "the checkpoint holds \"" << checkpointText().toStdString() << "\"";
    ASSERT_NO_FATAL_FAILURE(vellCommand(u"release"_qs));

    EXPECT_TRUE(fieldHolds(*field, kWholeScript));
    const QJsonObject entry = onlyEntryWith("pasted");
    EXPECT_EQ(entry.value(u"text"_qs).toString().toStdString(), kWholeScript.toStdString());
    // Named by the accessibility bus, which knows the application and its process.
    EXPECT_EQ(entry.value(u"appName"_qs).toString().toStdString(), "vell-textfield");
    QString clipboard;
    EXPECT_TRUE(eventually(
        [&] {
            clipboard = clipboardText();
            return clipboard == before;
        },
        kSettleLimit))
        << "the clipboard holds \"" << clipboard.toStdString() << "\"";

    stopVell();
    const QByteArray log = debugLog();
    EXPECT_TRUE(log.contains("session: Wayland (GNOME)")) << log.toStdString();
    EXPECT_TRUE(log.contains("keystrokes RemoteDesktop portal, front window accessibility bus")) << log.toStdString();
    expectNoDictatedWordInTheLog();
}

TEST_F(GnomeDictationTest, RefusedTheTextStaysOnTheClipboardAndTheNoticeSaysWhy)
{
    const std::unique_ptr<TextFieldProcess> field = startWithAField();
    ASSERT_TRUE(field && field->isRunning());

    ASSERT_NO_FATAL_FAILURE(startDictatingAndAnswer(u"Cancel"_qs));
    ASSERT_TRUE(eventually([&] { return checkpointText() == kFirstSentence; }, kStartLimit))
        << "the checkpoint holds \"" << checkpointText().toStdString() << "\"";
    ASSERT_NO_FATAL_FAILURE(vellCommand(u"release"_qs));

    // Delivered once the notice says so; until then the entry waits unpasted too.
    ASSERT_TRUE(eventually([&] { return debugLog().contains("notice: on the clipboard"); }, kSettleLimit))
        << debugLog().toStdString();
    const QJsonObject entry = onlyEntryWith("notInserted");
    const QString text = entry.value(u"text"_qs).toString();
    EXPECT_TRUE(text.startsWith(kFirstSentence)) << text.toStdString();
    EXPECT_EQ(entry.value(u"note"_qs).toString().toStdString(),
              "Your desktop didn't let Vell paste; allow it when it asks at your next dictation.");
    EXPECT_TRUE(eventually([&] { return clipboardText() == text; }, kSettleLimit)) << clipboardText().toStdString();
    EXPECT_TRUE(debugLog().contains("notice: on the clipboard; not pasted: not allowed")) << debugLog().toStdString();
    EXPECT_TRUE(field->text().isEmpty());
}

} // namespace
