#include "app/tray/TrayMenu.h"

#include "app/tray/UnpastedCard.h"
#include "app/widgets/SymbolIcon.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using Row = TrayMenuModel::Row;
using Kind = TrayMenuModel::Row::Kind;

namespace {

constexpr int kMargin = 10;
constexpr int kTextWidth = TrayMenu::kWidth - 2 * kMargin - 16;

QLabel* label(const QString& text, QWidget* parent, bool wrap = true)
{
    auto* result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(wrap);
    return result;
}

void makeSecondary(QWidget* widget)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::PlaceholderText));
    widget->setPalette(colours);
}

SymbolIcon::Kind symbolKind(TrayMenuModel::Symbol symbol)
{
    switch (symbol) {
    case TrayMenuModel::Symbol::lock:
        return SymbolIcon::Kind::lockFilled;
    case TrayMenuModel::Symbol::notPasted:
        return SymbolIcon::Kind::notice;
    case TrayMenuModel::Symbol::warning:
    case TrayMenuModel::Symbol::none:
        break;
    }
    return SymbolIcon::Kind::warningFilled;
}

} // namespace

TrayMenu::TrayMenu(QWidget* parent) : QWidget(parent, Qt::Popup), m_layout(new QVBoxLayout(this))
{
    setWindowTitle(QStringLiteral("Vell menu"));
    setAttribute(Qt::WA_WindowPropagation);
    m_layout->setContentsMargins(0, 0, 0, 0);
    setFixedWidth(kWidth);
    setStyleSheet(QStringLiteral("QPushButton[menuRow=\"true\"] { text-align: left; padding: 4px 8px; border: none;"
                                 " border-radius: 5px; background: transparent; }"
                                 "QPushButton[menuRow=\"true\"]:hover { background: palette(highlight);"
                                 " color: palette(highlighted-text); }"
                                 "QToolButton#more { border: none; padding: 4px 8px; border-radius: 5px; }"
                                 "QToolButton#more:hover { background: palette(highlight);"
                                 " color: palette(highlighted-text); }"
                                 "QToolButton#more::menu-indicator { image: none; }"));
}

QPoint TrayMenu::position(const QRect& icon, const QSize& size, const QRect& available)
{
    constexpr int kGap = 4;
    const bool below = icon.center().y() < available.center().y();
    int y = below ? icon.bottom() + 1 + kGap : icon.top() - kGap - size.height();
    int x = icon.left();
    x = qBound(available.left(), x, qMax(available.left(), available.right() + 1 - size.width()));
    y = qBound(available.top(), y, qMax(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void TrayMenu::popUp(const QRect& icon, const QRect& available)
{
    adjustSize();
    move(position(icon, size(), available));
    show();
    raise();
    activateWindow();
}

void TrayMenu::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    Q_EMIT hidden();
}

void TrayMenu::setRows(const QList<Row>& rows, const std::optional<UnpastedDictation>& unseenFailure)
{
    if (rows == m_rows && unseenFailure == m_failure)
        return;
    m_rows = rows;
    m_failure = unseenFailure;
    rebuild();
}

void TrayMenu::rebuild()
{
    if (m_body) {
        // The click that led here may come from inside the old rows.
        m_layout->removeWidget(m_body);
        m_body->hide();
        m_body->deleteLater();
    }
    m_body = new QWidget(this);
    m_card = nullptr;
    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(kMargin, kMargin, kMargin, kMargin / 2);
    body->setSpacing(2);

    QList<Row> moreItems;
    for (const Row& row : std::as_const(m_rows))
        if (row.kind == Kind::moreItem)
            moreItems << row;

    for (const Row& row : std::as_const(m_rows)) {
        if (row.kind == Kind::moreItem)
            continue;
        if (row.kind == Kind::heading || row.kind == Kind::more || row.kind == Kind::unpasted ||
            (row.kind == Kind::action && row.action == TrayMenuModel::Action::about))
            body->addSpacing(6);
        body->addWidget(makeRow(row, moreItems));
    }
    m_layout->addWidget(m_body);
    m_body->show();
    adjustSize();
}

QWidget* TrayMenu::makeRow(const Row& row, const QList<Row>& moreItems)
{
    switch (row.kind) {
    case Kind::title: {
        QLabel* title = label(row.text, m_body);
        QFont font = title->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.1);
        title->setFont(font);
        return title;
    }
    case Kind::caption:
    case Kind::summary:
    case Kind::hint: {
        QLabel* text = label(row.text, m_body);
        makeSecondary(text);
        return text;
    }
    case Kind::heading: {
        QLabel* heading = label(row.text, m_body);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        makeSecondary(heading);
        return heading;
    }
    case Kind::warning: {
        auto* box = new QWidget(m_body);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 2, 0, 2);
        auto* symbol = new QLabel(box);
        const QColor colour = row.symbol == TrayMenuModel::Symbol::lock ? palette().color(QPalette::WindowText)
                                                                        : QColor(0xe0, 0x8a, 0x00);
        symbol->setPixmap(SymbolIcon::icon(symbolKind(row.symbol), colour).pixmap(QSize(16, 16), devicePixelRatioF()));
        symbol->setAlignment(Qt::AlignTop);
        line->addWidget(symbol);
        line->addWidget(label(row.text, box), 1);
        return box;
    }
    case Kind::unpasted: {
        m_card = new UnpastedCard(m_body);
        if (m_failure)
            m_card->setFailure(*m_failure, row.text, row.copied);
        connect(m_card, &UnpastedCard::copyRequested, this, [this] {
            Row copy{Kind::unpasted};
            copy.action = TrayMenuModel::Action::copyUnpasted;
            Q_EMIT triggered(copy);
        });
        connect(m_card, &UnpastedCard::dismissRequested, this, [this] {
            Row dismiss{Kind::unpasted};
            dismiss.action = TrayMenuModel::Action::dismissUnpasted;
            Q_EMIT triggered(dismiss);
        });
        return m_card;
    }
    case Kind::more: {
        auto* more = new QToolButton(m_body);
        more->setObjectName(QStringLiteral("more"));
        more->setText(QStringLiteral("More  ▸"));
        more->setAccessibleName(row.text);
        more->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(more);
        for (const Row& item : moreItems)
            connect(menu->addAction(item.text), &QAction::triggered, this, [this, item] { Q_EMIT triggered(item); });
        more->setMenu(menu);
        return more;
    }
    case Kind::divider: {
        auto* line = new QFrame(m_body);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    }
    case Kind::recent:
    case Kind::action:
    case Kind::moreItem:
        break;
    }
    QString text = row.text;
    if (row.kind == Kind::recent) {
        const QString copied = QStringLiteral("   ✓ Copied");
        const int room = kTextWidth - (row.copied ? fontMetrics().horizontalAdvance(copied) : 0);
        text = fontMetrics().elidedText(text, Qt::ElideRight, room);
        if (row.copied)
            text += copied;
    }
    auto* button = new QPushButton(text, m_body);
    button->setProperty("menuRow", true);
    button->setFlat(true);
    button->setAccessibleName(row.text);
    if (row.kind == Kind::recent)
        button->setToolTip(row.text);
    connect(button, &QPushButton::clicked, this, [this, row] { Q_EMIT triggered(row); });
    return button;
}
