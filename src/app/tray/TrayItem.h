#pragma once

#include "app/tray/TrayIcon.h"
#include "app/tray/TrayMenu.h"
#include "app/tray/TrayMenuModel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <optional>

class AboutDialog;
class Clipboard;
class DictationController;
class Updater;
class WindowPresenter;

// Vell's item in the desktop's tray: the icon, redrawn as the controller
// changes, and the drop-down with the recent dictations and the commands.
// A click on the icon opens the drop-down under it when the tray says where
// the icon is, and a plain menu with the same rows where it does not; the
// plain menu is also the icon's context menu. Main thread only.
class TrayItem : public QObject
{
    Q_OBJECT

public:
    TrayItem(DictationController& controller, WindowPresenter& windows, Updater& updater, Clipboard& clipboard,
             const PlatformVocabulary& words = PlatformVocabulary::native(), QObject* parent = nullptr);
    ~TrayItem() override;

    // Puts the icon in the tray.
    void show();
    // What the icon shows now; it follows the controller a frame later.
    const std::optional<TrayIcon::Look>& shownLook() const { return m_shownLook; }

    TrayIcon::Look look() const;
    QString accessibleLabel() const;
    QList<TrayMenuModel::Row> rows() const;

    QSystemTrayIcon& systemTrayIcon() { return m_tray; }
    TrayMenu& content() { return m_content; }
    QMenu& plainMenu() { return m_menu; }
    AboutDialog* aboutDialog() const;

    // Opens the drop-down for the tray icon at `icon` (the plain menu at the
    // cursor when `icon` is empty).
    void open(const QRect& icon);
    // Does what a row stands for.
    void perform(const TrayMenuModel::Row& row);

Q_SIGNALS:
    void quitRequested();
    // The icon was drawn anew (its look changed).
    void iconChanged();

private:
    void refreshIcon();
    void checkIconSide();
    void scheduleRows();
    void refreshRows();
    void fillPlainMenu();
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    DictationController& m_controller;
    WindowPresenter& m_windows;
    Updater& m_updater;
    Clipboard& m_clipboard;
    const PlatformVocabulary& m_words;

    QSystemTrayIcon m_tray;
    TrayMenu m_content;
    QMenu m_menu;
    QTimer m_rowsTimer;
    QTimer m_lookTimer;
    QElapsedTimer m_iconDrawn;
    QPointer<AboutDialog> m_about;
    std::optional<TrayIcon::Look> m_shownLook;
    int m_shownSide = 0;
    int m_iconSide = 0;            // as the tray last said
    QHash<quint32, QIcon> m_icons; // by look and side
    std::optional<QUuid> m_copiedEntry;
    bool m_unpastedCopied = false;
    QElapsedTimer m_contentHiddenAt;
};
