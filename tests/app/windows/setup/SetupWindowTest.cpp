#include "app/windows/setup/SetupWindow.h"

#include "app/windows/WindowsFixture.h"
#include "app/windows/settings/KeyRow.h"
#include "app/windows/settings/ShortcutRecorderButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

using Step = SetupWindow::Step;

class SetupWindowTest : public WindowsFixture
{
protected:
    void press(SetupWindow& window) { QTest::mouseClick(window.primaryButton(), Qt::LeftButton); }

    // The step's title, step line and button, as the user reads them.
    static void expectStep(const SetupWindow& window, const QString& title, int number, const QString& button)
    {
        EXPECT_EQ(window.titleLabel()->text(), title);
        EXPECT_EQ(window.stepLine()->text(), QStringLiteral("Step %1 of 8").arg(number));
        EXPECT_EQ(window.primaryButton()->text(), button);
    }
};

TEST_F(SetupWindowTest, WalksFromWelcomeToDoneAndMarksSetupDone)
{
    microphone.current = MicrophonePermission::Status::denied;
    SetupWindow window(services());
    showActive(window);

    expectStep(window, u"Welcome"_qs, 1, u"Set Up Vell"_qs);
    press(window);

    expectStep(window, u"Shortcut"_qs, 2, u"Continue"_qs);
    EXPECT_EQ(window.recorder()->button()->text(), u"Right Alt"_qs);
    press(window);

    expectStep(window, u"Microphone"_qs, 3, u"Continue"_qs);
    ASSERT_TRUE(window.allowMicrophone()->isVisible());
    EXPECT_FALSE(window.microphoneAllowed()->isVisible());
    QTest::mouseClick(window.allowMicrophone(), Qt::LeftButton);
    EXPECT_EQ(microphone.requests, 1);
    EXPECT_TRUE(window.microphoneAllowed()->isVisible());
    EXPECT_FALSE(window.allowMicrophone()->isVisible());
    press(window);

    expectStep(window, u"Accessibility"_qs, 4, u"Continue"_qs);
    EXPECT_TRUE(window.keyboardAccessAllowed()->isVisible());
    EXPECT_FALSE(window.recheckKeyboardAccess()->isVisible());
    press(window);

    expectStep(window, u"Speech service"_qs, 5, u"Continue"_qs);
    ASSERT_EQ(window.provider()->itemText(0), u"Soniox (fastest, cheapest)"_qs);
    window.provider()->setCurrentIndex(0);
    EXPECT_EQ(settings.provider(), TranscriptionProvider::soniox);
    KeyRow* row = nullptr;
    for (KeyRow* shown : window.findChildren<KeyRow*>())
        if (shown->isVisible())
            row = shown;
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->service(), KeyService::soniox);
    QLineEdit* field = row->field();
    keyServer.enqueue(LocalHttpServer::Reply::answer(200));
    field->setFocus();
    QTest::keyClicks(field, u" soniox-key "_qs);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(settings.apiKey(TranscriptionProvider::soniox), u"soniox-key"_qs);
    press(window);

    expectStep(window, u"Voice sharing"_qs, 6, u"Allow and Continue"_qs);
    press(window);
    EXPECT_TRUE(settings.aiSharingAllowed());

    expectStep(window, u"Login"_qs, 7, u"Continue"_qs);
    EXPECT_TRUE(window.launchAtLoginToggle()->isChecked()); // suggested on a first setup
    press(window);
    QFile entry(Permissions::autostartPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("\nExec=\""));
    EXPECT_TRUE(Permissions::launchesAtLogin());

    expectStep(window, u"Try it"_qs, 8, u"Done"_qs);
    bool named = false;
    for (QLabel* label : window.findChildren<QLabel*>())
        named = named || label->text() == u"Click in the box, hold Right Alt and say something. Let go and it "
                                          "appears here."_qs;
    EXPECT_TRUE(named);
    QTest::keyClicks(window.trialBox(), u"hello"_qs);
    EXPECT_EQ(window.trial(), u"hello"_qs);
    EXPECT_FALSE(preferences.value(u"macSetupDone"_qs).toBool());

    press(window);
    EXPECT_TRUE(preferences.value(u"macSetupDone"_qs).toBool());
    EXPECT_FALSE(window.isVisible());
}

TEST_F(SetupWindowTest, SharingAlreadyAllowedAndAnUnchangedLoginLeaveThingsAsTheyAre)
{
    settings.setAiSharingAllowed(true);
    SetupWindow window(services());
    showActive(window);
    for (int i = 0; i < 5; ++i)
        press(window);

    ASSERT_EQ(window.step(), Step::sharing);
    EXPECT_EQ(window.primaryButton()->text(), u"Continue"_qs);
    press(window);
    EXPECT_TRUE(settings.aiSharingAllowed());

    // Off, as the login item already is: nothing is written.
    ASSERT_EQ(window.step(), Step::login);
    window.launchAtLoginToggle()->setChecked(false);
    press(window);
    EXPECT_FALSE(QFile::exists(Permissions::autostartPath()));
    EXPECT_EQ(window.step(), Step::tryIt);
    EXPECT_EQ(window.primaryButton()->text(), u"Done"_qs);
}

TEST_F(SetupWindowTest, TurningLaunchAtLoginOffRemovesTheEntry)
{
    ASSERT_TRUE(Permissions::setLaunchAtLogin(true));
    preferences.setValue(u"macSetupDone"_qs, true);
    SetupWindow window(services());
    showActive(window);
    for (int i = 0; i < 6; ++i)
        press(window);
    ASSERT_EQ(window.step(), Step::login);
    EXPECT_TRUE(window.launchAtLoginToggle()->isChecked()); // as it is now
    window.launchAtLoginToggle()->setChecked(false);
    press(window);
    EXPECT_FALSE(QFile::exists(Permissions::autostartPath()));
}

TEST_F(SetupWindowTest, AccessibilityGrantedWhileOpenShowsWithinASecond)
{
    tap.keyboardAccess = false;
    WindowServices realTiming = services();
    realTiming.permissionPoll = Permissions::kPollInterval;
    SetupWindow window(realTiming);
    showActive(window);
    for (int i = 0; i < 3; ++i)
        press(window);
    ASSERT_EQ(window.step(), Step::keyboardAccess);
    EXPECT_TRUE(window.recheckKeyboardAccess()->isVisible());
    EXPECT_FALSE(window.keyboardAccessAllowed()->isVisible());

    tap.keyboardAccess = true;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.keyboardAccessAllowed()->isVisible(); }, 2000));
    EXPECT_LE(clock.elapsed(), 1200);
    EXPECT_FALSE(window.recheckKeyboardAccess()->isVisible());
}

} // namespace

namespace {

TEST_F(SetupWindowTest, ALoginEntryThatCannotBeWrittenIsSaidOnceThenPassedBy)
{
    const QString folder = QFileInfo(Permissions::autostartPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).absolutePath()));
    QFile blocker(folder); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    SetupWindow window(services());
    showActive(window);
    for (int i = 0; i < 6; ++i)
        press(window);
    ASSERT_EQ(window.step(), Step::login);
    ASSERT_TRUE(window.launchAtLoginToggle()->isChecked());
    press(window);
    EXPECT_EQ(window.step(), Step::login);
    EXPECT_TRUE(window.launchProblem()->isVisible());
    EXPECT_TRUE(window.launchAtLoginToggle()->isChecked()); // the choice stays
    press(window);
    EXPECT_EQ(window.step(), Step::tryIt);
    QFile::remove(folder);
}

} // namespace
