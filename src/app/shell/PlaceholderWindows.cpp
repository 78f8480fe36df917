#include "app/shell/PlaceholderWindows.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderWindows::~PlaceholderWindows()
{
    for (const QPointer<QWidget>& window : std::as_const(m_windows))
        delete window.data();
}

void PlaceholderWindows::showSetup()
{
    open(QStringLiteral("Set Up Vell"));
}

void PlaceholderWindows::showSettings()
{
    open(QStringLiteral("Vell Settings"));
}

void PlaceholderWindows::showHistory()
{
    open(QStringLiteral("Vell History"));
}

void PlaceholderWindows::showStatistics()
{
    open(QStringLiteral("Vell Stats"));
}

void PlaceholderWindows::showConsent()
{
    open(QStringLiteral("Where your voice goes"));
}

void PlaceholderWindows::open(const QString& title)
{
    QPointer<QWidget>& window = m_windows[title];
    if (!window) {
        window = new QWidget;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(title);
        auto* layout = new QVBoxLayout(window);
        auto* label = new QLabel(QStringLiteral("This window isn't part of this build of Vell yet."), window);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
        window->resize(480, 320);
    }
    window->show();
    window->raise();
    window->activateWindow();
}
