#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class AppSettings;
class DictationController;
class QPushButton;
struct PlatformVocabulary;

// Asks the user to let Vell send their voice to the AI services, or to stop
// it: "Not Now" and "Allow" while sending is not allowed, "Stop Sending" and
// "Done" once it is. Window-modal over its parent, like a sheet. However it
// closes, the controller no longer wants consent.
class ConsentSheet : public QDialog
{
    Q_OBJECT

public:
    // `controller` and `words` must outlive the sheet.
    ConsentSheet(DictationController& controller, const PlatformVocabulary& words,
                 std::function<bool(const QUrl&)> openUrl, QWidget* parent = nullptr);

    // The buttons shown now, left to right.
    QList<QPushButton*> buttons() const;

protected:
    void done(int result) override;

private:
    void refreshButtons();

    DictationController& m_controller;
    AppSettings& m_settings;
    QPushButton* m_decline;
    QPushButton* m_accept;
};
