#include "app/tray/UnpastedCard.h"

#include "app/widgets/SymbolIcon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UnpastedCard::UnpastedCard(QWidget* parent)
    : QFrame(parent), m_title(new QLabel(this)), m_text(new QLabel(this)), m_reason(new QLabel(this)),
      m_copy(new QPushButton(QStringLiteral("Copy"), this)), m_dismiss(new QPushButton(QStringLiteral("Dismiss"), this))
{
    setObjectName(QStringLiteral("unpastedCard"));
    setFrameShape(QFrame::StyledPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(SymbolIcon::icon(SymbolIcon::Kind::notice, palette().color(QPalette::WindowText))
                          .pixmap(QSize(14, 14), devicePixelRatioF()));
    header->addWidget(symbol);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    header->addWidget(m_title, 1);
    layout->addLayout(header);

    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(m_text);

    m_reason->setWordWrap(true);
    QPalette secondary = m_reason->palette();
    secondary.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    m_reason->setPalette(secondary);
    QFont caption = m_reason->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.9);
    m_reason->setFont(caption);
    layout->addWidget(m_reason);

    auto* buttons = new QHBoxLayout;
    m_copy->setDefault(true);
    m_copy->setAutoDefault(true);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_dismiss);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(m_copy, &QPushButton::clicked, this, &UnpastedCard::copyRequested);
    connect(m_dismiss, &QPushButton::clicked, this, &UnpastedCard::dismissRequested);
}

void UnpastedCard::setFailure(const UnpastedDictation& failure, const QString& title, bool copied)
{
    m_title->setText(title);
    m_text->setText(failure.text);
    m_reason->setText(failure.reason);
    m_copy->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy"));
}

QString UnpastedCard::title() const
{
    return m_title->text();
}
