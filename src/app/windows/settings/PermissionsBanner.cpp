#include "app/windows/settings/PermissionsBanner.h"

#include "app/widgets/SymbolView.h"
#include "app/widgets/WindowStyle.h"
#include "platform/Permissions.h"
#include "platform/PlatformVocabulary.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QWidget* problemRow(const QString& title, const QString& detail, QPushButton* button, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new SymbolView(Symbols::Symbol::exclamationTriangleFill, 16, Symbols::Tint::warning, row), 0,
                      Qt::AlignVCenter);
    auto* bold = new QLabel(title, row);
    QFont font = bold->font();
    font.setBold(true);
    bold->setFont(font);
    layout->addWidget(bold);
    layout->addWidget(new QLabel(detail, row), 1);
    button->setParent(row);
    layout->addWidget(button);
    return row;
}

} // namespace

PermissionsBanner::PermissionsBanner(Permissions& permissions, const PlatformVocabulary& words,
                                     std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : QWidget(parent), m_permissions(permissions), m_words(words), m_openUrl(std::move(openUrl)),
      m_keyboardAccessButton(new QPushButton(words.openPrivacySettings)), m_microphoneButton(new QPushButton)
{
    m_keyboardAccessRow =
        problemRow(QStringLiteral("Accessibility is off."), QStringLiteral("Vell can't see your shortcut or paste."),
                   m_keyboardAccessButton, this);
    m_microphoneRow = problemRow(QStringLiteral("Microphone access is off."), QStringLiteral("Vell can't hear you."),
                                 m_microphoneButton, this);
    m_keyboardAccessRow->setToolTip(words.keyboardAccessOffHint);
    m_microphoneRow->setToolTip(words.microphoneOffNotice);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 8, 8);
    layout->addWidget(m_keyboardAccessRow);
    layout->addWidget(m_microphoneRow);

    connect(m_keyboardAccessButton, &QPushButton::clicked, &m_permissions, &Permissions::recheckKeyboardAccess);
    connect(m_microphoneButton, &QPushButton::clicked, this, &PermissionsBanner::onMicrophoneButton);
    connect(&m_permissions, &Permissions::keyboardAccessChanged, this, &PermissionsBanner::refresh);
    connect(&m_permissions, &Permissions::microphoneChanged, this, &PermissionsBanner::refresh);
    refresh();
}

bool PermissionsBanner::showsKeyboardAccess() const
{
    return isVisibleTo(parentWidget()) && m_keyboardAccessRow->isVisibleTo(this);
}

bool PermissionsBanner::showsMicrophone() const
{
    return isVisibleTo(parentWidget()) && m_microphoneRow->isVisibleTo(this);
}

void PermissionsBanner::refresh()
{
    m_keyboardAccessRow->setVisible(!m_permissions.keyboardAccess());
    m_microphoneRow->setVisible(!m_permissions.microphone());
    const bool undetermined = m_permissions.microphoneStatus() == MicrophonePermission::Status::undetermined;
    m_microphoneButton->setText(undetermined ? QStringLiteral("Allow Microphone") : m_words.openPrivacySettings);
    setVisible(!m_permissions.keyboardAccess() || !m_permissions.microphone());
}

void PermissionsBanner::onMicrophoneButton()
{
    const bool undetermined = m_permissions.microphoneStatus() == MicrophonePermission::Status::undetermined;
    if (!undetermined && !m_words.microphoneSettingsAddress.isEmpty())
        m_openUrl(QUrl(m_words.microphoneSettingsAddress));
    else
        m_permissions.requestMicrophone();
    refresh();
}

void PermissionsBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    QColor fill = dark ? QColor(255, 179, 64) : QColor(224, 140, 20);
    fill.setAlphaF(dark ? 0.16 : 0.14);
    QColor edge = fill;
    edge.setAlphaF(0.45);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}
