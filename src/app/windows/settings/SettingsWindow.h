#pragma once

#include "app/windows/WindowServices.h"
#include "app/windows/consent/ConsentSheet.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <functional>

class CleanupTab;

class DictionaryTab;
class GeneralTab;
class PermissionsBanner;
class PrivacyTab;
class QTabWidget;
class TranscriptionTab;

// Every preference in five tabs (General, Transcription, AI Cleanup,
// Dictionary, Privacy), with a banner above them while Vell lacks access to
// the keyboard or the microphone (looked at every second while the window is
// on screen). While the controller wants consent, the consent sheet covers
// the window. Every control writes straight through to the settings.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    SettingsWindow(const WindowServices& services, std::function<void()> openSetup, QWidget* parent = nullptr);

    Permissions& permissions() { return m_permissions; }
    PermissionsBanner* banner() const { return m_banner; }
    // Says how to come back where the desktop has no tray; hidden otherwise.
    QLabel* noTrayNote() const { return m_noTrayNote; }
    QTabWidget* tabs() const { return m_tabs; }
    GeneralTab* general() const { return m_general; }
    TranscriptionTab* transcription() const { return m_transcription; }
    CleanupTab* cleanup() const { return m_cleanup; }
    DictionaryTab* dictionary() const { return m_dictionary; }
    PrivacyTab* privacy() const { return m_privacy; }
    // The consent sheet while it is shown.
    ConsentSheet* consentSheet() const { return m_consent; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void presentConsentIfWanted();

    WindowServices m_services;
    Permissions m_permissions;
    PermissionsBanner* m_banner;
    QLabel* m_noTrayNote;
    QTabWidget* m_tabs;
    GeneralTab* m_general;
    TranscriptionTab* m_transcription;
    CleanupTab* m_cleanup;
    DictionaryTab* m_dictionary;
    PrivacyTab* m_privacy;
    QPointer<ConsentSheet> m_consent;
};
