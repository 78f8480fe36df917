#pragma once

#include "app/shell/WindowPresenter.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

// Stands in for the real windows: each kind opens one plain window with its
// title, raised again when it is already open. The windows delete themselves
// when closed. Main thread only.
class PlaceholderWindows final : public WindowPresenter
{
public:
    PlaceholderWindows() = default;
    ~PlaceholderWindows() override;
    PlaceholderWindows(const PlaceholderWindows&) = delete;
    PlaceholderWindows& operator=(const PlaceholderWindows&) = delete;

    void showSetup() override;
    void showSettings() override;
    void showHistory() override;
    void showStatistics() override;
    void showConsent() override;

    // The open window of a kind, for tests; none when it is closed.
    QWidget* window(const QString& title) const { return m_windows.value(title); }

private:
    void open(const QString& title);

    QHash<QString, QPointer<QWidget>> m_windows;
};
