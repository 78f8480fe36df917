#include "app/windows/history/StatCard.h"

#include "app/widgets/WindowStyle.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

StatCard::StatCard(const QString& title, QWidget* parent)
    : QFrame(parent), m_title(WindowStyle::secondary(title, this)), m_value(new QLabel(this)),
      m_caption(WindowStyle::secondary(QString(), this))
{
    QFont big = m_value->font();
    big.setPointSizeF(big.pointSizeF() * 1.9);
    big.setBold(true);
    m_value->setFont(big);
    m_value->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(2);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    layout->addWidget(m_caption);
    layout->addStretch();
    setMinimumWidth(150);
}

void StatCard::setValue(const QString& value, const QString& caption)
{
    m_value->setText(value);
    m_caption->setText(caption);
    m_caption->setVisible(!caption.isEmpty());
    setAccessibleName(QStringLiteral("%1: %2 %3").arg(title(), value, caption).trimmed());
}

QString StatCard::title() const
{
    return m_title->text();
}

QString StatCard::value() const
{
    return m_value->text();
}

QString StatCard::caption() const
{
    return m_caption->isVisibleTo(this) ? m_caption->text() : QString();
}

void StatCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.12);
    painter.setPen(QPen(border, 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}
