#include "app/windows/settings/GeneralTab.h"

#include "app/widgets/WindowStyle.h"
#include "app/windows/settings/CompositorBindingsBox.h"
#include "app/windows/settings/MicrophoneSection.h"
#include "app/windows/settings/ShortcutRecorderButton.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

GeneralTab::GeneralTab(const WindowServices& services, std::function<void()> openSetup, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    DictationController& controller = m_services.controller;
    DesktopSettings& desktopSettings = controller.desktopSettings();
    AppSettings& settings = controller.settings();

    auto* form = new QFormLayout(this);
    form->setContentsMargins(20, 18, 20, 18);
    form->setVerticalSpacing(12);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    m_recorder = new ShortcutRecorderButton(controller.hotkey(), m_services.keyboardTap, desktopSettings.shortcut(),
                                            *m_services.words, this);
    if (m_services.words->bindCommandHint.isEmpty()) {
        form->addRow(QStringLiteral("Shortcut"), m_recorder);
    } else {
        QLabel* bindHint = WindowStyle::secondary(WindowStyle::boldMarked(m_services.words->bindCommandHint));
        bindHint->setTextFormat(Qt::RichText);
        form->addRow(QStringLiteral("Shortcut"), WindowStyle::noted(m_recorder, bindHint));
    }
    connect(m_recorder, &ShortcutRecorderButton::shortcutRecorded, this, &GeneralTab::onShortcutRecorded);
    connect(&desktopSettings, &DesktopSettings::shortcutChanged, m_recorder, &ShortcutRecorderButton::setShortcut);
    m_shortcutAdvice = WindowStyle::secondary(QString(), this);
    form->addRow(QString(), m_shortcutAdvice);
    const auto advise = [this](const Shortcut& shortcut) {
        const std::optional<QString> advice = m_services.shortcutAdvice(shortcut);
        m_shortcutAdvice->setText(advice.value_or(QString()));
        m_shortcutAdvice->setVisible(advice.has_value());
    };
    advise(desktopSettings.shortcut());
    connect(&desktopSettings, &DesktopSettings::shortcutChanged, this, advise);
    if (m_services.compositor) {
        m_bindings =
            new CompositorBindingsBox(*m_services.compositor, m_services.vellCommand, m_services.clipboard, this);
        m_bindings->setShortcut(desktopSettings.shortcut());
        connect(&desktopSettings, &DesktopSettings::shortcutChanged, m_bindings, &CompositorBindingsBox::setShortcut);
        form->addRow(QString(), m_bindings);
    }

    m_trigger = new QComboBox(this);
    for (TriggerMode mode : TriggerModes::all())
        m_trigger->addItem(TriggerModes::title(mode), int(mode));
    m_trigger->setCurrentIndex(m_trigger->findData(int(desktopSettings.triggerMode())));
    connect(m_trigger, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.desktopSettings().setTriggerMode(TriggerMode(m_trigger->itemData(index).toInt()));
    });
    connect(&desktopSettings, &DesktopSettings::triggerModeChanged, this,
            [this](TriggerMode mode) { m_trigger->setCurrentIndex(m_trigger->findData(int(mode))); });
    QLabel* triggerNote = WindowStyle::secondary(WindowStyle::boldMarked(
        QStringLiteral("Text is pasted where your cursor is when you stop. ") + m_services.words->cancelHint));
    triggerNote->setTextFormat(Qt::RichText);
    form->addRow(QStringLiteral("Trigger"), WindowStyle::noted(m_trigger, triggerNote));

    m_microphone = new MicrophoneSection(controller, *form, this);

    m_sounds = new QCheckBox(QStringLiteral("Sounds when dictation starts and stops"), this);
    m_sounds->setChecked(settings.interactionSounds());
    connect(m_sounds, &QCheckBox::toggled, this,
            [this](bool on) { m_services.controller.settings().setInteractionSounds(on); });
    connect(&settings, &AppSettings::interactionSoundsChanged, m_sounds, &QCheckBox::setChecked);
    form->addRow(QString(), m_sounds);

    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at login"), this);
    m_launchAtLogin->setChecked(Permissions::launchesAtLogin());
    m_launchProblem = WindowStyle::paragraph(QString(), this);
    m_launchProblem->hide();
    // The box keeps the user's choice; a failure is logged and said.
    connect(m_launchAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        const bool done = Permissions::setLaunchAtLogin(on);
        m_launchProblem->setText(done ? QString() : GeneralTab::launchFailure());
        m_launchProblem->setVisible(!done);
    });
    form->addRow(QString(), WindowStyle::noted(m_launchAtLogin, m_launchProblem));

    m_appearance = new QComboBox(this);
    for (AppearanceSetting appearance : AppearanceSettings::all())
        m_appearance->addItem(AppearanceSettings::title(appearance), int(appearance));
    m_appearance->setCurrentIndex(m_appearance->findData(int(desktopSettings.appearance())));
    connect(m_appearance, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.desktopSettings().setAppearance(AppearanceSetting(m_appearance->itemData(index).toInt()));
    });
    connect(&desktopSettings, &DesktopSettings::appearanceChanged, this, [this](AppearanceSetting appearance) {
        m_appearance->setCurrentIndex(m_appearance->findData(int(appearance)));
    });
    form->addRow(QStringLiteral("Appearance"), m_appearance);

    m_showSetup = new QPushButton(QStringLiteral("Show Setup Again…"), this);
    m_showSetup->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_showSetup, &QPushButton::clicked, this, [openSetup = std::move(openSetup)] {
        if (openSetup)
            openSetup();
    });
    form->addRow(QString(), m_showSetup);
}

void GeneralTab::onShortcutRecorded(const Shortcut& shortcut)
{
    DictationController& controller = m_services.controller;
    controller.desktopSettings().setShortcut(shortcut);
    // Also when the shortcut is unchanged: a press in progress is forgotten.
    controller.hotkey().setShortcut(shortcut);
    controller.hotkey().setActive(false);
}

QString GeneralTab::launchFailure()
{
    return QStringLiteral("Vell couldn't change whether it opens at login: its autostart entry can't be written.");
}
