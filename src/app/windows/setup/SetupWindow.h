#pragma once

#include "app/windows/WindowServices.h"

#include <QWidget>

class KeyRow;
class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class ShortcutRecorderButton;
class StepIndicator;

// The first-run setup: eight steps, each with its title, a "Step n of 8"
// line, its content and one primary button that does the step's work and
// moves on. The last step's "Done" marks setup as done ("macSetupDone") and
// closes the window. Permissions are looked at every second while the window
// is on screen. Starts at the welcome step.
class SetupWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Step { welcome, shortcut, microphone, keyboardAccess, key, sharing, login, tryIt };
    Q_ENUM(Step)

    static constexpr int kStepCount = 8;
    static constexpr QLatin1String kSetupDoneKey{"macSetupDone"};

    static QString title(Step step);

    explicit SetupWindow(const WindowServices& services, QWidget* parent = nullptr);

    Step step() const { return m_step; }
    bool launchAtLogin() const;
    QString trial() const;
    Permissions& permissions() { return m_permissions; }

    // The primary button's title for the current step.
    QString primaryTitle() const;
    // Does the current step's work, then moves on (or, at the end, finishes).
    void primaryAction();

    QPushButton* primaryButton() const { return m_primary; }
    QLabel* stepLine() const { return m_stepLine; }
    QLabel* titleLabel() const { return m_title; }
    ShortcutRecorderButton* recorder() const { return m_recorder; }
    QPushButton* allowMicrophone() const { return m_allowMicrophone; }
    QLabel* microphoneAllowed() const { return m_microphoneAllowed; }
    QPushButton* recheckKeyboardAccess() const { return m_recheckKeyboardAccess; }
    QLabel* keyboardAccessAllowed() const { return m_keyboardAccessAllowed; }
    QComboBox* provider() const { return m_provider; }
    QCheckBox* launchAtLoginToggle() const { return m_launchAtLogin; }
    QLabel* launchProblem() const { return m_launchProblem; }
    QPlainTextEdit* trialBox() const { return m_trial; }

Q_SIGNALS:
    void stepChanged(SetupWindow::Step step);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* welcomePage();
    QWidget* shortcutPage();
    QWidget* microphonePage();
    QWidget* keyboardAccessPage();
    QWidget* keyPage();
    QWidget* sharingPage();
    QWidget* loginPage();
    QWidget* tryItPage();

    void advance();
    void showStep();
    void showPermissions();
    void showShortcutAdvice();
    void showProvider();

    WindowServices m_services;
    Permissions m_permissions;
    Step m_step = Step::welcome;

    QLabel* m_title = nullptr;
    QLabel* m_stepLine = nullptr;
    StepIndicator* m_indicator = nullptr;
    QStackedWidget* m_pages = nullptr;
    QPushButton* m_primary = nullptr;

    ShortcutRecorderButton* m_recorder = nullptr;
    QWidget* m_fnAdvice = nullptr;
    QLabel* m_desktopShortcutAdvice = nullptr;
    QPushButton* m_allowMicrophone = nullptr;
    QLabel* m_microphoneAllowed = nullptr;
    QWidget* m_microphoneAllowedRow = nullptr;
    QPushButton* m_recheckKeyboardAccess = nullptr;
    QLabel* m_keyboardAccessHint = nullptr;
    QLabel* m_keyboardAccessAllowed = nullptr;
    QWidget* m_keyboardAccessAllowedRow = nullptr;
    QComboBox* m_provider = nullptr;
    QWidget* m_keyRows = nullptr;
    QWidget* m_keyLabel = nullptr;
    KeyRow* m_assemblyAIKey = nullptr;
    KeyRow* m_sonioxKey = nullptr;
    QLabel* m_assemblyAILink = nullptr;
    QLabel* m_sonioxLink = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    QLabel* m_launchProblem = nullptr;
    QPlainTextEdit* m_trial = nullptr;
    QLabel* m_trialLine = nullptr;
};
