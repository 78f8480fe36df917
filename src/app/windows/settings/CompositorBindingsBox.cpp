#include "app/windows/settings/CompositorBindingsBox.h"

#include "app/widgets/WindowStyle.h"
#include "platform/Clipboard.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CompositorBindingsBox::CompositorBindingsBox(CompositorBindings::Compositor compositor, QString command,
                                             Clipboard& clipboard, QWidget* parent)
    : QWidget(parent), m_compositor(compositor), m_command(std::move(command)), m_clipboard(clipboard),
      m_intro(WindowStyle::secondary(QString(), this)), m_lines(new QPlainTextEdit(this)),
      m_copy(new QPushButton(QStringLiteral("Copy"), this))
{
    m_lines->setReadOnly(true);
    m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_lines->setMaximumHeight(m_lines->fontMetrics().lineSpacing() * 3 + 12);
    m_lines->setAccessibleName(QStringLiteral("Compositor bindings"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_intro);
    auto* row = new QHBoxLayout;
    row->addWidget(m_lines, 1);
    row->addWidget(m_copy, 0, Qt::AlignTop);
    layout->addLayout(row);

    connect(m_copy, &QPushButton::clicked, this, [this] {
        const bool copied =
            m_clipboard.setText(m_lines->toPlainText() + QLatin1Char('\n'), Clipboard::Visibility::normal);
        m_copy->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Couldn't Copy"));
        QTimer::singleShot(2000, m_copy, [this] { m_copy->setText(QStringLiteral("Copy")); });
    });
}

void CompositorBindingsBox::setShortcut(const Shortcut& shortcut)
{
    const std::optional<QStringList> lines = CompositorBindings::lines(m_compositor, shortcut, m_command);
    m_lines->setVisible(lines.has_value());
    m_copy->setVisible(lines.has_value());
    if (!lines) {
        m_intro->setText(QStringLiteral("Your compositor has no name for this shortcut's key; record another to "
                                        "bind it there."));
        return;
    }
    m_intro->setText(QStringLiteral("Add these lines to %1 and reload it, so holding your shortcut dictates:")
                         .arg(CompositorBindings::configName(m_compositor)));
    m_lines->setPlainText(lines->join(QLatin1Char('\n')));
}
