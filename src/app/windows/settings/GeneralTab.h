#pragma once

#include "app/windows/WindowServices.h"
#include "shortcut/Shortcut.h"

#include <QWidget>

#include <functional>

class CompositorBindingsBox;
class MicrophoneSection;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class ShortcutRecorderButton;

// The shortcut and how it triggers, the microphone, sounds, launching at
// login, the look of the windows, and the way back into the setup.
class GeneralTab : public QWidget
{
    Q_OBJECT

public:
    GeneralTab(const WindowServices& services, std::function<void()> openSetup, QWidget* parent = nullptr);

    ShortcutRecorderButton* recorder() const { return m_recorder; }
    // On sway or Hyprland only.
    CompositorBindingsBox* bindings() const { return m_bindings; }
    // What the desktop can't do with the shortcut; hidden when nothing.
    QLabel* shortcutAdvice() const { return m_shortcutAdvice; }
    QComboBox* trigger() const { return m_trigger; }
    MicrophoneSection* microphone() const { return m_microphone; }
    QCheckBox* sounds() const { return m_sounds; }
    QCheckBox* launchAtLogin() const { return m_launchAtLogin; }
    QComboBox* appearance() const { return m_appearance; }
    QPushButton* showSetup() const { return m_showSetup; }
    QLabel* launchProblem() const { return m_launchProblem; }

    // Said when the autostart entry cannot be written or removed.
    static QString launchFailure();

private:
    void onShortcutRecorded(const Shortcut& shortcut);

    WindowServices m_services;
    ShortcutRecorderButton* m_recorder;
    CompositorBindingsBox* m_bindings = nullptr;
    QLabel* m_shortcutAdvice = nullptr;
    QComboBox* m_trigger;
    MicrophoneSection* m_microphone;
    QCheckBox* m_sounds;
    QCheckBox* m_launchAtLogin;
    QLabel* m_launchProblem;
    QComboBox* m_appearance;
    QPushButton* m_showSetup;
};
