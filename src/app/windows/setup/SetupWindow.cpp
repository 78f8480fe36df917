#include "app/windows/setup/SetupWindow.h"

#include "app/shell/ProductLinks.h"
#include "app/widgets/SymbolView.h"
#include "app/widgets/WindowStyle.h"
#include "app/windows/consent/VoicePath.h"
#include "app/windows/settings/CompositorBindingsBox.h"
#include "app/windows/settings/GeneralTab.h"
#include "app/windows/settings/KeyRow.h"
#include "app/windows/settings/ShortcutRecorderButton.h"
#include "app/windows/settings/WebLinks.h"
#include "app/windows/setup/StepIndicator.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QVBoxLayout* pageLayout(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    return layout;
}

// A checkmark in a circle and a line saying what is allowed.
QWidget* allowedRow(const QString& text, QLabel** label, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SymbolView(Symbols::Symbol::checkmarkCircleFill, 18, Symbols::Tint::success, row));
    *label = new QLabel(text, row);
    layout->addWidget(*label, 1);
    return row;
}

QPushButton* leftAligned(QPushButton* button)
{
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

} // namespace

QString SetupWindow::title(Step step)
{
    switch (step) {
    case Step::welcome:
        return QStringLiteral("Welcome");
    case Step::shortcut:
        return QStringLiteral("Shortcut");
    case Step::microphone:
        return QStringLiteral("Microphone");
    case Step::keyboardAccess:
        return QStringLiteral("Accessibility");
    case Step::key:
        return QStringLiteral("Speech service");
    case Step::sharing:
        return QStringLiteral("Voice sharing");
    case Step::login:
        return QStringLiteral("Login");
    case Step::tryIt:
        return QStringLiteral("Try it");
    }
    return {};
}

SetupWindow::SetupWindow(const WindowServices& services, QWidget* parent)
    : QWidget(parent), m_services(services),
      m_permissions(services.keyboardTap, services.microphone, services.permissionPoll)
{
    setWindowTitle(QStringLiteral("Set Up Vell"));

    QStringList titles;
    for (int step = 0; step < kStepCount; ++step)
        titles << title(Step(step));
    m_indicator = new StepIndicator(titles, this);
    m_stepLine = WindowStyle::secondary(QString(), this);
    m_title = WindowStyle::title(QString(), this);

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(welcomePage());
    m_pages->addWidget(shortcutPage());
    m_pages->addWidget(microphonePage());
    m_pages->addWidget(keyboardAccessPage());
    m_pages->addWidget(keyPage());
    m_pages->addWidget(sharingPage());
    m_pages->addWidget(loginPage());
    m_pages->addWidget(tryItPage());

    m_primary = new QPushButton(this);
    m_primary->setDefault(true);
    m_primary->setAutoDefault(true);
    m_primary->setMinimumWidth(120);
    connect(m_primary, &QPushButton::clicked, this, &SetupWindow::primaryAction);
    auto* footer = new QHBoxLayout;
    footer->addStretch();
    footer->addWidget(m_primary);

    auto* content = new QVBoxLayout;
    content->setContentsMargins(28, 22, 28, 20);
    content->setSpacing(4);
    content->addWidget(m_stepLine);
    content->addWidget(m_title);
    content->addSpacing(14);
    content->addWidget(m_pages, 1);
    content->addLayout(footer);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_indicator);
    layout->addLayout(content, 1);

    connect(&m_permissions, &Permissions::microphoneChanged, this, &SetupWindow::showPermissions);
    connect(&m_permissions, &Permissions::keyboardAccessChanged, this, &SetupWindow::showPermissions);
    connect(&m_services.controller.settings(), &AppSettings::aiSharingAllowedChanged, this,
            [this] { m_primary->setText(primaryTitle()); });
    showPermissions();
    showStep();
    resize(720, 480);
}

QWidget* SetupWindow::welcomePage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Talk. Vell types."), page));
    layout->addWidget(WindowStyle::paragraph(
        QStringLiteral("Hold a key, say what you want to write, and let go. Vell pastes the text where your cursor "
                       "is, in any app, cleaned up the way you meant it."),
        page));
    layout->addWidget(WindowStyle::secondary(QStringLiteral("Takes about two minutes: a shortcut, two permissions and "
                                                            "a key for the speech service you choose."),
                                             page));
    layout->addStretch();
    return page;
}

QWidget* SetupWindow::shortcutPage()
{
    DictationController& controller = m_services.controller;
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Your shortcut"), page));
    layout->addWidget(
        WindowStyle::paragraph(QStringLiteral("Hold it to dictate, or tap it to start and tap again to stop."), page));
    layout->addSpacing(6);
    m_recorder = new ShortcutRecorderButton(controller.hotkey(), m_services.keyboardTap,
                                            controller.desktopSettings().shortcut(), *m_services.words, page);
    layout->addWidget(m_recorder);
    if (m_services.compositor) {
        auto* bindings =
            new CompositorBindingsBox(*m_services.compositor, m_services.vellCommand, m_services.clipboard, page);
        bindings->setShortcut(controller.desktopSettings().shortcut());
        connect(&controller.desktopSettings(), &DesktopSettings::shortcutChanged, bindings,
                &CompositorBindingsBox::setShortcut);
        layout->addWidget(bindings);
    } else if (!m_services.words->bindCommandHint.isEmpty()) {
        QLabel* bindHint = WindowStyle::secondary(WindowStyle::boldMarked(m_services.words->bindCommandHint), page);
        bindHint->setTextFormat(Qt::RichText);
        layout->addWidget(bindHint);
    }
    connect(m_recorder, &ShortcutRecorderButton::shortcutRecorded, this, [this](const Shortcut& shortcut) {
        DictationController& controller = m_services.controller;
        controller.desktopSettings().setShortcut(shortcut);
        controller.hotkey().setShortcut(shortcut);
        controller.hotkey().setActive(false);
    });

    // Advice for Fn alone, where the desktop has a setting that gets in the way.
    m_fnAdvice = new QWidget(page);
    auto* advice = new QVBoxLayout(m_fnAdvice);
    advice->setContentsMargins(0, 6, 0, 0);
    auto* hint = new QLabel(WindowStyle::boldMarked(m_services.words->setupFnHint), m_fnAdvice);
    hint->setTextFormat(Qt::RichText);
    hint->setWordWrap(true);
    advice->addWidget(hint);
    if (!m_services.words->keyboardSettingsAddress.isEmpty()) {
        auto* open = leftAligned(new QPushButton(QStringLiteral("Open Keyboard Settings"), m_fnAdvice));
        connect(open, &QPushButton::clicked, this,
                [this] { m_services.openUrl(QUrl(m_services.words->keyboardSettingsAddress)); });
        advice->addWidget(open);
    }
    layout->addWidget(m_fnAdvice);
    m_desktopShortcutAdvice = WindowStyle::paragraph(QString(), page);
    layout->addWidget(m_desktopShortcutAdvice);
    layout->addStretch();
    connect(&controller.desktopSettings(), &DesktopSettings::shortcutChanged, this, [this](const Shortcut& shortcut) {
        m_recorder->setShortcut(shortcut);
        showShortcutAdvice();
    });
    showShortcutAdvice();
    return page;
}

QWidget* SetupWindow::microphonePage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Vell needs the microphone to hear you."), page));
    layout->addWidget(WindowStyle::paragraph(QStringLiteral("Vell listens only while you use the shortcut."), page));
    layout->addSpacing(6);
    m_allowMicrophone = leftAligned(new QPushButton(QStringLiteral("Allow Microphone"), page));
    connect(m_allowMicrophone, &QPushButton::clicked, &m_permissions, &Permissions::requestMicrophone);
    layout->addWidget(m_allowMicrophone);
    m_microphoneAllowedRow = allowedRow(QStringLiteral("Microphone allowed"), &m_microphoneAllowed, page);
    layout->addWidget(m_microphoneAllowedRow);
    layout->addStretch();
    return page;
}

QWidget* SetupWindow::keyboardAccessPage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::paragraph(
        QStringLiteral("Lets Vell notice your shortcut in any app and paste the text where your cursor is. Vell "
                       "doesn't read your screen or what you type."),
        page));
    layout->addSpacing(6);
    m_keyboardAccessHint = WindowStyle::paragraph(m_services.words->keyboardAccessOffHint, page);
    layout->addWidget(m_keyboardAccessHint);
    m_recheckKeyboardAccess = leftAligned(new QPushButton(m_services.words->openPrivacySettings, page));
    connect(m_recheckKeyboardAccess, &QPushButton::clicked, &m_permissions, &Permissions::recheckKeyboardAccess);
    layout->addWidget(m_recheckKeyboardAccess);
    m_keyboardAccessAllowedRow = allowedRow(QStringLiteral("Accessibility allowed"), &m_keyboardAccessAllowed, page);
    layout->addWidget(m_keyboardAccessAllowedRow);
    layout->addStretch();
    return page;
}

QWidget* SetupWindow::keyPage()
{
    DictationController& controller = m_services.controller;
    AppSettings& settings = controller.settings();
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Connect a speech service"), page));
    layout->addWidget(
        WindowStyle::paragraph(QStringLiteral("Vell uses your own key, so you pay the provider directly."), page));
    layout->addSpacing(6);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setVerticalSpacing(10);
    m_provider = new QComboBox(page);
    for (TranscriptionProvider provider :
         {TranscriptionProvider::soniox, TranscriptionProvider::assemblyAI, TranscriptionProvider::mock})
        m_provider->addItem(TranscriptionProviders::title(provider), int(provider));
    m_provider->setCurrentIndex(m_provider->findData(int(settings.provider())));
    connect(m_provider, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.settings().setProvider(TranscriptionProvider(m_provider->itemData(index).toInt()));
    });
    connect(&settings, &AppSettings::providerChanged, this, &SetupWindow::showProvider);
    form->addRow(QStringLiteral("Provider"), m_provider);

    const auto keyRow = [&](TranscriptionProvider provider, KeyService service) {
        auto* row = new KeyRow(
            QStringLiteral("API key"), service, controller.keyChecks(),
            [&settings, provider] { return settings.apiKey(provider); },
            [&settings, provider](const QString& key) { settings.setAPIKey(key, provider); }, {}, page);
        connect(&settings, &AppSettings::keysVersionChanged, row, &KeyRow::reload);
        return row;
    };
    m_sonioxKey = keyRow(TranscriptionProvider::soniox, KeyService::soniox);
    m_assemblyAIKey = keyRow(TranscriptionProvider::assemblyAI, KeyService::assemblyAI);
    m_sonioxLink = WindowStyle::link(QStringLiteral("Get an API key"), WebLinks::keyPage(KeyService::soniox),
                                     m_services.openUrl, page);
    m_assemblyAILink = WindowStyle::link(QStringLiteral("Get an API key"), WebLinks::keyPage(KeyService::assemblyAI),
                                         m_services.openUrl, page);
    m_keyRows = new QWidget(page);
    auto* keys = new QVBoxLayout(m_keyRows);
    keys->setContentsMargins(0, 0, 0, 0);
    keys->setSpacing(3);
    keys->addWidget(m_sonioxKey);
    keys->addWidget(m_assemblyAIKey);
    keys->addWidget(m_sonioxLink);
    keys->addWidget(m_assemblyAILink);
    form->addRow(QStringLiteral("API key"), m_keyRows);
    m_keyLabel = form->labelForField(m_keyRows);
    layout->addLayout(form);
    layout->addStretch();
    showProvider();
    return page;
}

QWidget* SetupWindow::sharingPage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Where your voice goes"), page));
    layout->addWidget(WindowStyle::paragraph(
        QStringLiteral("Vell has no servers and no accounts. Each dictation takes this path, using keys you own."),
        page));
    layout->addWidget(new VoicePath(*m_services.words, page));
    layout->addWidget(
        WindowStyle::link(QStringLiteral("Privacy policy"), ProductLinks::privacy(), m_services.openUrl, page));
    layout->addStretch();
    return page;
}

QWidget* SetupWindow::loginPage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Open Vell at login"), page));
    layout->addWidget(
        WindowStyle::paragraph(QStringLiteral("Vell lives in %1, so your shortcut works as soon as you log in.")
                                   .arg(m_services.words->trayName),
                               page));
    layout->addSpacing(6);
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at login"), page);
    // Suggested on a first setup; afterwards it shows how things are.
    const bool setupDone = m_services.preferences.value(kSetupDoneKey, false).toBool();
    m_launchAtLogin->setChecked(!setupDone || Permissions::launchesAtLogin());
    layout->addWidget(m_launchAtLogin);
    m_launchProblem = WindowStyle::paragraph(GeneralTab::launchFailure(), page);
    m_launchProblem->hide();
    layout->addWidget(m_launchProblem);
    layout->addStretch();
    return page;
}

QWidget* SetupWindow::tryItPage()
{
    auto* page = new QWidget(this);
    QVBoxLayout* layout = pageLayout(page);
    m_trialLine = WindowStyle::paragraph(QString(), page);
    layout->addWidget(m_trialLine);
    m_trial = new QPlainTextEdit(page);
    m_trial->setAccessibleName(QStringLiteral("Try it"));
    layout->addWidget(m_trial, 1);
    const auto describe = [this] {
        m_trialLine->setText(QStringLiteral("Click in the box, hold %1 and say something. Let go and it appears here.")
                                 .arg(m_services.controller.desktopSettings().shortcut().label(*m_services.words)));
    };
    connect(&m_services.controller.desktopSettings(), &DesktopSettings::shortcutChanged, this, describe);
    describe();
    return page;
}

bool SetupWindow::launchAtLogin() const
{
    return m_launchAtLogin->isChecked();
}

QString SetupWindow::trial() const
{
    return m_trial->toPlainText();
}

QString SetupWindow::primaryTitle() const
{
    switch (m_step) {
    case Step::welcome:
        return QStringLiteral("Set Up Vell");
    case Step::sharing:
        return m_services.controller.settings().aiSharingAllowed() ? QStringLiteral("Continue")
                                                                   : QStringLiteral("Allow and Continue");
    case Step::tryIt:
        return QStringLiteral("Done");
    default:
        return QStringLiteral("Continue");
    }
}

void SetupWindow::primaryAction()
{
    switch (m_step) {
    case Step::tryIt:
        m_services.preferences.setValue(kSetupDoneKey, true);
        close();
        return;
    case Step::login:
        // A failure is said once; pressing on again moves on.
        if (launchAtLogin() != Permissions::launchesAtLogin() && !Permissions::setLaunchAtLogin(launchAtLogin()) &&
            !m_launchProblem->isVisible()) {
            m_launchProblem->show();
            return;
        }
        break;
    case Step::sharing:
        m_services.controller.settings().setAiSharingAllowed(true);
        break;
    default:
        break;
    }
    advance();
}

void SetupWindow::advance()
{
    if (m_step == Step::tryIt)
        return;
    m_step = Step(int(m_step) + 1);
    showStep();
    Q_EMIT stepChanged(m_step);
}

void SetupWindow::showStep()
{
    const int index = int(m_step);
    m_title->setText(title(m_step));
    m_stepLine->setText(QStringLiteral("Step %1 of %2").arg(index + 1).arg(kStepCount));
    m_indicator->setCurrent(index);
    m_pages->setCurrentIndex(index);
    m_primary->setText(primaryTitle());
    if (m_step == Step::tryIt)
        m_trial->setFocus();
    else
        m_primary->setFocus();
}

void SetupWindow::showPermissions()
{
    const bool microphone = m_permissions.microphone();
    m_allowMicrophone->setVisible(!microphone);
    m_microphoneAllowedRow->setVisible(microphone);
    const bool accessibility = m_permissions.keyboardAccess();
    m_keyboardAccessHint->setVisible(!accessibility);
    m_recheckKeyboardAccess->setVisible(!accessibility);
    m_keyboardAccessAllowedRow->setVisible(accessibility);
}

void SetupWindow::showShortcutAdvice()
{
    const Shortcut& shortcut = m_services.controller.desktopSettings().shortcut();
    const bool fnAlone = shortcut.isModifierOnly() && shortcut.modifiers == ModifierKeys::fn;
    m_fnAdvice->setVisible(fnAlone && !m_services.words->setupFnHint.isEmpty());
    const std::optional<QString> advice = m_services.shortcutAdvice(shortcut);
    m_desktopShortcutAdvice->setText(advice.value_or(QString()));
    m_desktopShortcutAdvice->setVisible(advice.has_value());
}

void SetupWindow::showProvider()
{
    const TranscriptionProvider provider = m_services.controller.settings().provider();
    m_provider->setCurrentIndex(m_provider->findData(int(provider)));
    const bool soniox = provider == TranscriptionProvider::soniox;
    const bool assemblyAI = provider == TranscriptionProvider::assemblyAI;
    m_sonioxKey->setVisible(soniox);
    m_sonioxLink->setVisible(soniox);
    m_assemblyAIKey->setVisible(assemblyAI);
    m_assemblyAILink->setVisible(assemblyAI);
    m_keyRows->setVisible(soniox || assemblyAI);
    m_keyLabel->setVisible(soniox || assemblyAI);
}

void SetupWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_permissions.setPolling(true);
}

void SetupWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_permissions.setPolling(false);
}
