#include "app/windows/AppWindows.h"
#include "app/windows/WindowsFixture.h"
#include "app/windows/consent/ConsentSheet.h"
#include "app/windows/history/HistoryWindow.h"
#include "app/windows/history/UsageStatsView.h"
#include "app/windows/settings/SettingsWindow.h"
#include "app/windows/setup/SetupWindow.h"

#include <QPushButton>

namespace {

class ConsentTest : public WindowsFixture
{
protected:
    // Opens the settings window and waits for the sheet a refused dictation asks for.
    ConsentSheet* askForConsent(SettingsWindow& window)
    {
        controller->setWantsConsent(true);
        if (!QTest::qWaitFor([&] { return window.consentSheet() && window.consentSheet()->isVisible(); }, 2000))
            return nullptr;
        return window.consentSheet();
    }

    static QStringList titles(const ConsentSheet& sheet)
    {
        QStringList result;
        for (QPushButton* button : sheet.buttons())
            result << button->text();
        return result;
    }

    void click(ConsentSheet* sheet, const QString& title)
    {
        for (QPushButton* button : sheet->buttons())
            if (button->text() == title)
                QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet || !sheet->isVisible(); }, 2000));
    }
};

TEST_F(ConsentTest, AllowingThenKeepingThenStopping)
{
    SettingsWindow window(services(), {});
    showActive(window);

    QPointer<ConsentSheet> sheet = askForConsent(window);
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isModal());
    EXPECT_EQ(titles(*sheet), (QStringList{u"Not Now"_qs, u"Allow"_qs}));
    click(sheet, u"Not Now"_qs);
    EXPECT_FALSE(settings.aiSharingAllowed());
    EXPECT_FALSE(controller->wantsConsent());

    sheet = askForConsent(window);
    ASSERT_TRUE(sheet);
    click(sheet, u"Allow"_qs);
    EXPECT_TRUE(settings.aiSharingAllowed());
    EXPECT_FALSE(controller->wantsConsent());

    sheet = askForConsent(window);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(titles(*sheet), (QStringList{u"Stop Sending"_qs, u"Done"_qs}));
    click(sheet, u"Done"_qs);
    EXPECT_TRUE(settings.aiSharingAllowed());
    EXPECT_FALSE(controller->wantsConsent());

    sheet = askForConsent(window);
    ASSERT_TRUE(sheet);
    click(sheet, u"Stop Sending"_qs);
    EXPECT_FALSE(settings.aiSharingAllowed());
    EXPECT_FALSE(controller->wantsConsent());
}

TEST_F(ConsentTest, EscapeClosesTheSheetForGood)
{
    SettingsWindow window(services(), {});
    showActive(window);
    QPointer<ConsentSheet> sheet = askForConsent(window);
    ASSERT_TRUE(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet; }, 2000));
    EXPECT_FALSE(controller->wantsConsent());
    EXPECT_FALSE(settings.aiSharingAllowed());
}

TEST_F(ConsentTest, AppWindowsOpenEachWindowOnceAndAskForConsentOverTheSettings)
{
    AppWindows windows(services());
    windows.showHistory();
    QPointer<HistoryWindow> history = windows.historyWindow();
    ASSERT_TRUE(history);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->windowTitle(), u"Vell History"_qs);
    windows.showHistory();
    EXPECT_EQ(windows.historyWindow(), history.data());

    history->close(); // deleted on close, made afresh next time
    ASSERT_TRUE(QTest::qWaitFor([&] { return !history; }, 2000));
    windows.showHistory();
    EXPECT_TRUE(windows.historyWindow());

    windows.showStatistics();
    ASSERT_TRUE(windows.statisticsWindow());
    EXPECT_EQ(windows.statisticsWindow()->windowTitle(), u"Vell Stats"_qs);

    windows.showConsent();
    ASSERT_TRUE(windows.settingsWindow());
    EXPECT_TRUE(controller->wantsConsent());
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows.settingsWindow()->consentSheet(); }, 2000));

    windows.showSetup();
    ASSERT_TRUE(windows.setupWindow());
    EXPECT_EQ(windows.setupWindow()->step(), SetupWindow::Step::welcome);
    EXPECT_EQ(windows.setupWindow()->windowTitle(), u"Set Up Vell"_qs);
}

} // namespace
