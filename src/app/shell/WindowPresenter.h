#pragma once

#include <QString>

#include <optional>

// Opens the application's windows. The tray menu and the launch check call
// it; whoever implements it creates each window when it is first opened,
// brings an open one to the front instead of making a second, and owns the
// windows it makes. Main thread only.
class WindowPresenter
{
public:
    // The identifiers windows are opened by.
    enum class Window { setup, history, stats, settings };

    virtual ~WindowPresenter() = default;

    virtual void showSetup() = 0;
    virtual void showSettings() = 0;
    virtual void showHistory() = 0;
    virtual void showStatistics() = 0;
    // Asks the user to allow sending their voice to the chosen services.
    virtual void showConsent() = 0;

    // "settings" opens the settings window; every other identifier opens the
    // window of that identifier.
    void show(Window window)
    {
        switch (window) {
        case Window::setup:
            showSetup();
            return;
        case Window::history:
            showHistory();
            return;
        case Window::stats:
            showStatistics();
            return;
        case Window::settings:
            showSettings();
            return;
        }
    }

    static QString rawValue(Window window)
    {
        switch (window) {
        case Window::setup:
            return QStringLiteral("setup");
        case Window::history:
            return QStringLiteral("history");
        case Window::stats:
            return QStringLiteral("stats");
        case Window::settings:
            return QStringLiteral("settings");
        }
        return {};
    }

    static std::optional<Window> fromRawValue(const QString& raw)
    {
        for (Window window : {Window::setup, Window::history, Window::stats, Window::settings})
            if (rawValue(window) == raw)
                return window;
        return std::nullopt;
    }
};
