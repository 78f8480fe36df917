#include "app/shell/PaletteAppearance.h"
#include "app/windows/WindowsFixture.h"
#include "app/windows/consent/ConsentSheet.h"
#include "app/windows/history/DeleteAllDialog.h"
#include "app/windows/history/HistoryWindow.h"
#include "app/windows/history/UsageStatsView.h"
#include "app/windows/settings/DictionaryTab.h"
#include "app/windows/settings/PrivacyTab.h"
#include "app/windows/settings/SettingsWindow.h"
#include "app/windows/settings/ShortcutRecorderButton.h"
#include "app/windows/setup/SetupWindow.h"
#include "storage/PrivateFiles.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include <iostream>

namespace {

// Pictures of every window and every setup step, light and dark, from a real
// X server, for a person to look at. Runs only when VELL_SCREENSHOT_DIR names
// the folder to fill.
class Screenshots : public WindowsFixture
{
protected:
    void SetUp() override
    {
        folder = qEnvironmentVariable("VELL_SCREENSHOT_DIR");
        if (folder.isEmpty())
            GTEST_SKIP() << "VELL_SCREENSHOT_DIR is not set";
        ASSERT_TRUE(QDir().mkpath(folder));
        writeUsage();
        WindowsFixture::SetUp();
        fillHistory();
        settings.setProvider(TranscriptionProvider::soniox);
        settings.setAPIKey(u"sk-demo-4f9a"_qs, TranscriptionProvider::soniox);
        preferences.setValue(KeyChecks::kVerifiedKeysKey,
                             QVariantMap{{u"soniox"_qs, KeyChecks::fingerprint(u"sk-demo-4f9a"_qs)}});
        settings.setVocabulary({u"Anya Kowalski"_qs, u"Kubernetes"_qs, u"Brightfold"_qs});
    }

    // Fourteen days of dictations, a few days without.
    void writeUsage()
    {
        QByteArray json = "[";
        const QDateTime now = QDateTime::currentDateTime();
        const int words[] = {320, 0, 540, 210, 880, 0, 0, 460, 1020, 380, 640, 0, 720, 260};
        for (int day = 0; day < 14; ++day) {
            if (words[day] == 0)
                continue;
            UsageRecord record{now.addDays(day - 13), words[day], words[day] / 2.4};
            if (json.size() > 1)
                json += ',';
            record.appendJson(json);
        }
        json += ']';
        ASSERT_TRUE(PrivateFiles::writeAtomically(dir.filePath(u"usage.json"_qs), json));
    }

    void fillHistory()
    {
        const auto add = [&](const QString& text, const std::optional<QString>& raw, const QString& app,
                             HistoryEntry::Status status, int minutesAgo) {
            HistoryEntry entry;
            entry.id = QUuid::createUuid();
            entry.date = QDateTime::currentDateTime().addSecs(-60 * minutesAgo);
            entry.text = text;
            entry.rawText = raw;
            entry.appName = app;
            entry.status = status;
            history.add(entry);
        };
        add(u"Push the release notes to GitHub before the call."_qs,
            u"push the release notes to github before the call"_qs, u"Terminal"_qs, HistoryEntry::Status::pasted, 3000);
        add(u"Hi Anya, thanks for the notes. I moved our meeting to Thursday at 3 and added the GitHub link to the "
            "agenda, so everyone can read the proposal before we talk. Let me know if that time works for you."_qs,
            u"hi anya thanks for the notes i moved our meeting to thursday at 3 and added the github link"_qs,
            u"Mail"_qs, HistoryEntry::Status::pasted, 1500);
        add(u"Buy oat milk, coffee beans and a birthday card."_qs, std::nullopt, u"Notes"_qs,
            HistoryEntry::Status::notInserted, 40);
        add(u"Ask Anya whether the budget review can move to next week."_qs,
            u"ask anya whether the budget review can move to next week"_qs, u"Slack"_qs, HistoryEntry::Status::pasted,
            2);
    }

    void capture(QWidget& window, const QString& name)
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.raise();
        window.repaint();
        QCoreApplication::processEvents();
        QPixmap shot = window.screen()->grabWindow(window.winId());
        // Without a compositor the server may hand back nothing for a window still being mapped.
        if (shot.isNull() || shot.toImage().pixelColor(1, 1) == QColor(Qt::black))
            shot = window.grab();
        const QString path = QDir(folder).filePath(name + u'-' + theme + QStringLiteral(".png"));
        ASSERT_TRUE(shot.save(path));
        std::cout << "screenshot: " << path.toStdString() << '\n';
    }

    void everything()
    {
        {
            microphone.current = MicrophonePermission::Status::denied;
            SetupWindow setup(services());
            const QStringList names{u"welcome"_qs, u"shortcut"_qs, u"microphone"_qs, u"accessibility"_qs,
                                    u"key"_qs,     u"sharing"_qs,  u"login"_qs,      u"try-it"_qs};
            for (int step = 0; step < SetupWindow::kStepCount; ++step) {
                capture(setup, u"setup-%1-%2"_qs.arg(step + 1).arg(names[step]));
                if (step + 1 < SetupWindow::kStepCount)
                    setup.primaryAction();
            }
            settings.setAiSharingAllowed(false);
            microphone.current = MicrophonePermission::Status::granted;
        }
        {
            tap.keyboardAccess = false;
            microphone.current = MicrophonePermission::Status::denied;
            SettingsWindow window(services(), {});
            const QStringList tabs{u"general"_qs, u"transcription"_qs, u"cleanup"_qs, u"dictionary"_qs, u"privacy"_qs};
            for (int tab = 0; tab < tabs.size(); ++tab) {
                window.tabs()->setCurrentIndex(tab);
                capture(window, u"settings-"_qs + tabs[tab]);
            }
            tap.keyboardAccess = true;
            microphone.current = MicrophonePermission::Status::granted;
            window.permissions().refresh();
            window.tabs()->setCurrentIndex(0);
            QTest::mouseClick(window.findChild<ShortcutRecorderButton*>()->button(), Qt::LeftButton);
            capture(window, u"settings-general-recording"_qs);
            window.findChild<ShortcutRecorderButton*>()->recorder().stopRecording();

            controller->setWantsConsent(true);
            ASSERT_TRUE(QTest::qWaitFor([&] { return window.consentSheet(); }, 2000));
            capture(*window.consentSheet(), u"consent-ask"_qs);
            window.consentSheet()->reject();
            settings.setAiSharingAllowed(true);
            controller->setWantsConsent(true);
            ASSERT_TRUE(QTest::qWaitFor([&] { return window.consentSheet(); }, 2000));
            capture(*window.consentSheet(), u"consent-allowed"_qs);
            window.consentSheet()->reject();

            window.tabs()->setCurrentIndex(4);
            QTest::mouseClick(window.privacy()->deleteAll(), Qt::LeftButton);
            DeleteAllDialog* confirm = window.findChild<DeleteAllDialog*>();
            ASSERT_NE(confirm, nullptr);
            capture(*confirm, u"delete-all"_qs);
            confirm->reject();
        }
        {
            HistoryWindow window(services());
            capture(window, u"history"_qs);
            window.copy(1);
            capture(window, u"history-copied"_qs);
            QTest::keyClicks(window.searchField(), u"ANYA"_qs);
            capture(window, u"history-search"_qs);
            window.searchField()->setText(u"nothing like it"_qs);
            capture(window, u"history-no-match"_qs);
        }
        {
            UsageStatsView stats(controller->usage());
            capture(stats, u"stats"_qs);
        }
        {
            WindowServices emptyServices = services();
            const QList<HistoryEntry> kept = history.entries();
            history.clear();
            HistoryWindow window(emptyServices);
            capture(window, u"history-empty"_qs);
            for (auto it = kept.crbegin(); it != kept.crend(); ++it)
                history.add(*it);
        }
    }

    QString folder;
    QString theme;
};

TEST_F(Screenshots, EveryWindowLightAndDark)
{
    auto& application = static_cast<QApplication&>(*QCoreApplication::instance());
    PaletteAppearance palettes(application);
    for (const auto& [name, look] :
         {std::pair{u"light"_qs, AppearanceSetting::light}, std::pair{u"dark"_qs, AppearanceSetting::dark}}) {
        theme = name;
        palettes.apply(look);
        everything();
    }
    palettes.apply(AppearanceSetting::system);
}

} // namespace
