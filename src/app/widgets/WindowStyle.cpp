#include "app/widgets/WindowStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace WindowStyle {

namespace {

QLabel* scaled(const QString& text, qreal factor, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * factor);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

QLabel* title(const QString& text, QWidget* parent)
{
    return scaled(text, 1.5, parent);
}

QLabel* heading(const QString& text, QWidget* parent)
{
    return scaled(text, 1.15, parent);
}

QLabel* paragraph(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    // Wrapped text takes the width it is given, not the narrowest that fits.
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return label;
}

QLabel* secondary(const QString& text, QWidget* parent)
{
    QLabel* label = paragraph(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* link(const QString& text, const QUrl& url, const std::function<bool(const QUrl&)>& open, QWidget* parent)
{
    auto* label = new QLabel(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toString().toHtmlEscaped(), text.toHtmlEscaped()), parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setToolTip(url.toString());
    QObject::connect(label, &QLabel::linkActivated, label, [open](const QString& target) { open(QUrl(target)); });
    return label;
}

QWidget* noted(QWidget* control, QLabel* note, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    control->setParent(box);
    note->setParent(box);
    const bool expands = control->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag;
    layout->addWidget(control, 0, expands ? Qt::Alignment() : Qt::AlignLeft);
    layout->addWidget(note);
    return box;
}

QString boldMarked(const QString& text)
{
    const QStringList parts = text.split(QStringLiteral("**"));
    QString html;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString escaped = parts[i].toHtmlEscaped();
        html += i % 2 == 1 ? QStringLiteral("<b>") + escaped + QStringLiteral("</b>") : escaped;
    }
    return html;
}

} // namespace WindowStyle
