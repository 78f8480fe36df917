#include "app/tray/TrayItem.h"

#include "app/shell/AboutDialog.h"
#include "app/shell/Updater.h"
#include "app/shell/WindowPresenter.h"
#include "app/widgets/SymbolIcon.h"
#include "control/DictationController.h"
#include "platform/Clipboard.h"
#include "storage/DesktopSettings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

using Row = TrayMenuModel::Row;
using Kind = TrayMenuModel::Row::Kind;
using Action = TrayMenuModel::Action;

namespace {

// A click on the icon that closed the drop-down must not open it again.
constexpr qint64 kReopenGuardMs = 300;
// Rebuilding the drop-down's rows takes milliseconds. While it is hidden that
// waits until a dictation's changes have settled, so it never falls between
// the release and the paste, nor delays the answer to the target's clipboard
// request; opening it brings the rows up to date at once.
constexpr std::chrono::milliseconds kHiddenRowsDelay{300};
constexpr std::chrono::milliseconds kLevelStepInterval{250};
constexpr std::chrono::milliseconds kCatchUp{16};

} // namespace

TrayItem::TrayItem(DictationController& controller, WindowPresenter& windows, Updater& updater, Clipboard& clipboard,
                   const PlatformVocabulary& words, QObject* parent)
    : QObject(parent), m_controller(controller), m_windows(windows), m_updater(updater), m_clipboard(clipboard),
      m_words(words)
{
    m_rowsTimer.setSingleShot(true);
    connect(&m_rowsTimer, &QTimer::timeout, this, &TrayItem::refreshRows);
    // A stop changes the level and then the state, on the way to the paste:
    // the icon follows a frame later, drawn once, by when a service that
    // answers at once has had its text pasted.
    m_lookTimer.setSingleShot(true);
    connect(&m_lookTimer, &QTimer::timeout, this, &TrayItem::refreshIcon);
    const auto rowsChanged = [this] { scheduleRows(); };
    const auto lookChanged = [this] { m_lookTimer.start(kCatchUp); };
    // The level's steps follow the voice a few times a second, which a tray
    // icon shows as well as every change and at a fraction of the cost. A
    // step is drawn along with the level that brings it, in the same wake-up
    // as the panel's meter; the timer only catches the last one before the
    // levels stop.
    const auto levelChanged = [this] {
        if (!m_iconDrawn.isValid() || m_iconDrawn.elapsed() >= kLevelStepInterval.count())
            m_lookTimer.start(0);
        else if (!m_lookTimer.isActive())
            m_lookTimer.start(kLevelStepInterval);
    };

    connect(&controller, &DictationController::stateChanged, this, lookChanged);
    connect(&controller, &DictationController::levelStepChanged, this, levelChanged);
    connect(&controller.keyboardGrab(), &KeyboardGrabWatch::changed, this, lookChanged);
    connect(&controller, &DictationController::unseenFailureChanged, this, lookChanged);
    connect(&controller.hotkey(), &HotkeyMonitor::isInstalledChanged, this, lookChanged);

    connect(&controller, &DictationController::stateChanged, this, rowsChanged);
    connect(&controller.keyboardGrab(), &KeyboardGrabWatch::changed, this, rowsChanged);
    connect(&controller, &DictationController::unseenFailureChanged, this, [this] {
        m_unpastedCopied = false;
        scheduleRows();
    });
    connect(&controller.hotkey(), &HotkeyMonitor::isInstalledChanged, this, rowsChanged);
    connect(&controller.history(), &HistoryStore::entriesChanged, this, rowsChanged);
    connect(&controller.usage(), &UsageLog::recordsChanged, this, rowsChanged);
    connect(&controller.desktopSettings(), &DesktopSettings::shortcutChanged, this, rowsChanged);

    connect(&m_content, &TrayMenu::triggered, this, &TrayItem::perform);
    connect(&m_content, &TrayMenu::hidden, this, [this] { m_contentHiddenAt.start(); });
    connect(&m_menu, &QMenu::aboutToShow, this, &TrayItem::fillPlainMenu);
    connect(&m_tray, &QSystemTrayIcon::activated, this, &TrayItem::onActivated);
    m_tray.setContextMenu(&m_menu);

    refreshIcon();
    refreshRows();
}

TrayItem::~TrayItem()
{
    delete m_about.data();
}

void TrayItem::show()
{
    m_tray.show();
    // The tray may only now have said how big its icons are.
    checkIconSide();
}

TrayIcon::Look TrayItem::look() const
{
    return {m_controller.state(), m_controller.levelStep(), TrayMenuModel::needsAttention(m_controller)};
}

QString TrayItem::accessibleLabel() const
{
    return TrayIcon::accessibleLabel(look().needsAttention);
}

QList<Row> TrayItem::rows() const
{
    TrayMenuModel::Inputs inputs = TrayMenuModel::snapshot(m_controller, m_words);
    inputs.copiedEntry = m_copiedEntry;
    inputs.unpastedCopied = m_unpastedCopied;
    return TrayMenuModel::rows(inputs);
}

AboutDialog* TrayItem::aboutDialog() const
{
    return m_about.data();
}

void TrayItem::refreshIcon()
{
    m_lookTimer.stop();
    const TrayIcon::Look current = look();
    if (m_shownLook == current && m_shownSide == m_iconSide)
        return;
    const bool attentionChanged = !m_shownLook || m_shownLook->needsAttention != current.needsAttention;
    m_shownLook = current;
    m_shownSide = m_iconSide;
    // A few dozen looks at most, each drawn once: while listening the look
    // changes with the level many times a second.
    const quint32 key = quint32(current.state) | quint32(current.levelStep) << 4 |
                        quint32(current.needsAttention) << 8 | quint32(qMax(m_iconSide, 0)) << 9;
    auto cached = m_icons.constFind(key);
    if (cached == m_icons.cend())
        cached = m_icons.insert(key, TrayIcon::icon(current, m_iconSide));
    m_tray.setIcon(*cached);
    m_iconDrawn.start();
    if (attentionChanged)
        m_tray.setToolTip(TrayIcon::accessibleLabel(current.needsAttention));
    Q_EMIT iconChanged();
}

// Asking costs a round trip to the display server, so it is asked when the
// tray shows, opens or has its rows rebuilt, never on the way to a paste.
void TrayItem::checkIconSide()
{
    const QRect geometry = m_tray.geometry();
    m_iconSide = geometry.isValid() ? qMin(geometry.width(), geometry.height()) : 0;
    refreshIcon();
}

void TrayItem::scheduleRows()
{
    const bool shown = m_content.isVisible() || m_menu.isVisible();
    m_rowsTimer.start(shown ? std::chrono::milliseconds(0) : kHiddenRowsDelay);
}

void TrayItem::refreshRows()
{
    m_rowsTimer.stop();
    checkIconSide();
    m_content.setRows(rows(), m_controller.unseenFailure());
    if (m_menu.isVisible())
        fillPlainMenu();
}

void TrayItem::fillPlainMenu()
{
    m_menu.clear();
    QMenu* more = nullptr;
    const auto disabled = [this](const QString& text, const QIcon& icon = {}) {
        QAction* action = m_menu.addAction(icon, text);
        action->setEnabled(false);
        return action;
    };
    const std::optional<UnpastedDictation> failure = m_controller.unseenFailure();
    for (const Row& row : rows()) {
        switch (row.kind) {
        case Kind::title:
        case Kind::caption:
        case Kind::summary:
        case Kind::hint:
            disabled(row.text);
            break;
        case Kind::warning:
            disabled(row.text,
                     SymbolIcon::icon(row.symbol == TrayMenuModel::Symbol::lock ? SymbolIcon::Kind::lockFilled
                                                                                : SymbolIcon::Kind::warningFilled,
                                      m_menu.palette().color(QPalette::WindowText)));
            break;
        case Kind::unpasted:
            m_menu.addSeparator();
            disabled(row.text,
                     SymbolIcon::icon(SymbolIcon::Kind::notice, m_menu.palette().color(QPalette::WindowText)));
            if (failure) {
                disabled(m_menu.fontMetrics().elidedText(TrayMenuModel::oneLine(failure->text), Qt::ElideRight, 320));
                disabled(failure->reason);
            }
            connect(m_menu.addAction(row.copied ? QStringLiteral("Copied") : QStringLiteral("Copy")),
                    &QAction::triggered, this, [this] {
                        perform(Row{Kind::unpasted, {}, {}, Action::copyUnpasted});
                    });
            connect(m_menu.addAction(QStringLiteral("Dismiss")), &QAction::triggered, this, [this] {
                perform(Row{Kind::unpasted, {}, {}, Action::dismissUnpasted});
            });
            break;
        case Kind::heading:
            m_menu.addSection(row.text);
            break;
        case Kind::recent: {
            QAction* action = m_menu.addAction(m_menu.fontMetrics()
                                                   .elidedText(row.text, Qt::ElideRight, 320)
                                                   .replace(QLatin1Char('&'), QStringLiteral("&&")));
            action->setCheckable(row.copied);
            action->setChecked(row.copied);
            connect(action, &QAction::triggered, this, [this, row] { perform(row); });
            break;
        }
        case Kind::more:
            m_menu.addSeparator();
            more = m_menu.addMenu(row.text);
            break;
        case Kind::moreItem:
            if (more)
                connect(more->addAction(row.text), &QAction::triggered, this, [this, row] { perform(row); });
            break;
        case Kind::action:
            connect(m_menu.addAction(row.text), &QAction::triggered, this, [this, row] { perform(row); });
            break;
        case Kind::divider:
            m_menu.addSeparator();
            break;
        }
    }
}

void TrayItem::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    if (m_content.isVisible() || (m_contentHiddenAt.isValid() && m_contentHiddenAt.elapsed() < kReopenGuardMs)) {
        m_content.hide();
        return;
    }
    open(m_tray.geometry());
}

void TrayItem::open(const QRect& icon)
{
    refreshRows();
    if (!icon.isValid()) {
        m_menu.popup(QCursor::pos());
        return;
    }
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    m_content.popUp(icon, screen ? screen->availableGeometry() : QRect(QPoint(), m_content.sizeHint()));
}

void TrayItem::perform(const Row& row)
{
    const auto closeMenu = [this] {
        m_content.hide();
        m_menu.hide();
    };
    switch (row.action) {
    case Action::none:
        return;
    case Action::copyEntry:
        for (const HistoryEntry& entry : m_controller.history().entries()) {
            if (entry.id != row.entry)
                continue;
            if (m_clipboard.setText(entry.text, Clipboard::Visibility::normal)) {
                m_copiedEntry = entry.id;
            } else {
                m_controller.notice().show(NoticeMessage::of(NoticeMessage::Kind::copyFailed));
            }
            break;
        }
        refreshRows();
        return;
    case Action::copyUnpasted:
        if (const std::optional<UnpastedDictation> failure = m_controller.unseenFailure()) {
            if (m_clipboard.setText(failure->text, Clipboard::Visibility::normal))
                m_unpastedCopied = true;
            else
                m_controller.notice().show(NoticeMessage::of(NoticeMessage::Kind::copyFailed));
        }
        refreshRows();
        return;
    case Action::dismissUnpasted:
        m_controller.clearUnseenFailure();
        return;
    case Action::history:
        closeMenu();
        m_windows.show(WindowPresenter::Window::history);
        return;
    case Action::stats:
        closeMenu();
        m_windows.show(WindowPresenter::Window::stats);
        return;
    case Action::settings:
        closeMenu();
        m_windows.show(WindowPresenter::Window::settings);
        return;
    case Action::setup:
        closeMenu();
        m_windows.show(WindowPresenter::Window::setup);
        return;
    case Action::about:
        closeMenu();
        if (!m_about)
            m_about = new AboutDialog;
        m_about->show();
        m_about->raise();
        m_about->activateWindow();
        return;
    case Action::checkForUpdates:
        closeMenu();
        m_updater.checkForUpdates();
        return;
    case Action::quit:
        closeMenu();
        Q_EMIT quitRequested();
        return;
    }
}
