#pragma once

#include "app/shell/WindowPresenter.h"

#include <QObject>

class DictationController;

// Opens the windows the program opens on its own (the launch check's, the one
// for a desktop without a tray) only between dictations: opened during one,
// a window would take the focus that the text is meant for. Main thread only;
// both must outlive it.
class IdleWindowPresenter final : public QObject, public WindowPresenter
{
public:
    IdleWindowPresenter(WindowPresenter& windows, DictationController& controller, QObject* parent = nullptr);

    void showSetup() override { whenIdle(&WindowPresenter::showSetup); }
    void showSettings() override { whenIdle(&WindowPresenter::showSettings); }
    void showHistory() override { whenIdle(&WindowPresenter::showHistory); }
    void showStatistics() override { whenIdle(&WindowPresenter::showStatistics); }
    void showConsent() override { whenIdle(&WindowPresenter::showConsent); }

private:
    void whenIdle(void (WindowPresenter::*open)());

    WindowPresenter& m_windows;
    DictationController& m_controller;
};
