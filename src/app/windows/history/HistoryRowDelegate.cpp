#include "app/windows/history/HistoryRowDelegate.h"

#include "app/widgets/ShownText.h"
#include "app/widgets/Symbols.h"
#include "app/windows/history/HistoryModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QToolTip>

namespace {

constexpr int kPadding = 10;
constexpr int kSpacing = 4;
constexpr int kMaximumLines = 4;
constexpr int kIcon = 16;

QFont metaFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.88);
    return font;
}

// The text broken into at most kMaximumLines lines of `width`, the last elided.
QStringList lines(const QString& text, const QFont& font, int width)
{
    QString flattened = shownPart(text);
    flattened.replace(u'\n', u' ');
    QTextLayout layout(flattened, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList result;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (result.size() == kMaximumLines - 1) {
            result.append(QFontMetrics(font).elidedText(flattened.mid(line.textStart()), Qt::ElideRight, width));
            break;
        }
        result.append(flattened.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return result;
}

} // namespace

HistoryRowDelegate::HistoryRowDelegate(HistoryModel& model, QAbstractItemView& view)
    : QStyledItemDelegate(&view), m_model(model), m_view(view)
{}

QString HistoryRowDelegate::describe(const HistoryEntry& entry, const QDateTime& now)
{
    const QLocale locale;
    const QDateTime local = entry.date.toLocalTime();
    const qint64 days = local.date().daysTo(now.toLocalTime().date());
    // Minutes are enough, whatever the locale's short format says.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QStringLiteral(":ss"));
    const QString time = locale.toString(local.time(), timeFormat);
    QString when;
    if (days == 0)
        when = QStringLiteral("Today ") + time;
    else if (days == 1)
        when = QStringLiteral("Yesterday ") + time;
    else
        when = locale.toString(local.date(), QLocale::ShortFormat) + u' ' + time;

    QStringList parts{when};
    if (entry.appName && !entry.appName->isEmpty())
        parts << *entry.appName;
    switch (entry.status) {
    case HistoryEntry::Status::pasted:
        break;
    case HistoryEntry::Status::notInserted:
        parts << QStringLiteral("Not pasted");
        break;
    case HistoryEntry::Status::cancelled:
        parts << QStringLiteral("Cancelled");
        break;
    case HistoryEntry::Status::pending:
        parts << QStringLiteral("In progress");
        break;
    }
    return parts.join(QStringLiteral(" · "));
}

QRect HistoryRowDelegate::copyButtonRect(const QRect& row, bool copied) const
{
    const QFontMetrics metrics(m_view.font());
    const int width = copied ? kIcon + 6 + metrics.horizontalAdvance(QStringLiteral("Copied")) + 12 : kIcon + 12;
    const int height = qMax(kIcon, metrics.height()) + 8;
    return QRect(row.right() - kPadding - width + 1, row.top() + kPadding - 4, width, height);
}

QSize HistoryRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int width = m_view.viewport()->width();
    const QRect row(0, 0, width, 0);
    const int textWidth = width - 2 * kPadding - copyButtonRect(row, true).width() - kSpacing;
    const QFont font = option.font;
    const int textLines = int(lines(index.data().toString(), font, qMax(textWidth, 80)).size());
    const int height = kPadding + QFontMetrics(metaFont(font)).height() + kSpacing +
                       qMax(1, textLines) * QFontMetrics(font).lineSpacing() + kPadding;
    return {width, qMax(height, copyButtonRect(row, false).height() + 2 * kPadding)};
}

void HistoryRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const HistoryEntry& entry = m_model.entry(index.row());
    const bool copied = index.data(HistoryModel::CopiedRole).toBool();
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette& palette = opt.palette;
    const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QColor quiet = text;
    quiet.setAlphaF(0.62);

    painter->save();
    const QRect copyRect = copyButtonRect(opt.rect, copied);
    const int textLeft = opt.rect.left() + kPadding;
    const int textWidth = opt.rect.width() - 2 * kPadding - copyButtonRect(opt.rect, true).width() - kSpacing;

    const QFont meta = metaFont(opt.font);
    painter->setFont(meta);
    painter->setPen(quiet);
    const QFontMetrics metaMetrics(meta);
    const QRect metaRect(textLeft, opt.rect.top() + kPadding, textWidth, metaMetrics.height());
    painter->drawText(metaRect, Qt::AlignLeft | Qt::AlignVCenter,
                      metaMetrics.elidedText(describe(entry), Qt::ElideRight, textWidth));

    painter->setFont(opt.font);
    painter->setPen(text);
    const QFontMetrics metrics(opt.font);
    int y = metaRect.bottom() + 1 + kSpacing;
    for (const QString& line : lines(entry.text, opt.font, qMax(textWidth, 80))) {
        painter->drawText(QRect(textLeft, y, textWidth, metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }

    // The copy button: a symbol, and "Copied" beside a checkmark once used.
    const bool hovered =
        (opt.state & QStyle::State_MouseOver) && copyRect.contains(m_view.viewport()->mapFromGlobal(QCursor::pos()));
    if (hovered) {
        QColor hover = text;
        hover.setAlphaF(0.1);
        painter->setPen(Qt::NoPen);
        painter->setBrush(hover);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->drawRoundedRect(copyRect, 5, 5);
    }
    const QRect icon(copyRect.left() + 6, copyRect.center().y() - kIcon / 2 + 1, kIcon, kIcon);
    const Symbols::Tint tint = selected ? Symbols::Tint::text : copied ? Symbols::Tint::success : Symbols::Tint::text;
    Symbols::icon(copied ? Symbols::Symbol::checkmark : Symbols::Symbol::docOnDoc, tint).paint(painter, icon);
    if (copied) {
        painter->setPen(text);
        painter->drawText(
            QRect(icon.right() + 6, copyRect.top(), copyRect.right() - icon.right() - 6, copyRect.height()),
            Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Copied"));
    }

    // A hairline between rows.
    QColor line = palette.color(QPalette::WindowText);
    line.setAlphaF(0.12);
    painter->setPen(line);
    painter->drawLine(opt.rect.left() + kPadding, opt.rect.bottom(), opt.rect.right() - kPadding, opt.rect.bottom());
    painter->restore();
}

bool HistoryRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                     const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool copied = index.data(HistoryModel::CopiedRole).toBool();
        if (mouse->button() == Qt::LeftButton &&
            copyButtonRect(option.rect, copied).contains(mouse->position().toPoint())) {
            Q_EMIT copyRequested(index.row());
            return true;
        }
    }
    if (event->type() == QEvent::MouseMove)
        m_view.viewport()->update(option.rect);
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool HistoryRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                   const QModelIndex& index)
{
    const bool copied = index.data(HistoryModel::CopiedRole).toBool();
    if (event->type() == QEvent::ToolTip && copyButtonRect(option.rect, copied).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), QStringLiteral("Copy to clipboard"), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
