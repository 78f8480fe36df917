#include "app/panel/PreviewText.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

constexpr int kTextFlags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;

} // namespace

PreviewText::PreviewText(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString PreviewText::preview(const QString& text)
{
    if (text.size() <= kMaximumCharacters)
        return text;
    qsizetype start = text.size() - kMaximumCharacters;
    // Never begin with the second half of a surrogate pair.
    if (text.at(start).isLowSurrogate())
        ++start;
    const QStringView tail = QStringView(text).mid(start);
    qsizetype cut = -1;
    for (qsizetype i = 0; i < tail.size(); ++i) {
        if (tail.at(i).isSpace()) {
            cut = i;
            break;
        }
    }
    if (cut < 0)
        return QStringLiteral("…") + tail.toString();
    // A run of white space is skipped whole, so the preview starts at a word.
    qsizetype wordStart = cut + 1;
    while (wordStart < tail.size() && tail.at(wordStart).isSpace())
        ++wordStart;
    if (wordStart == tail.size())
        return QStringLiteral("…") + tail.toString();
    return QStringLiteral("…") + tail.mid(wordStart).toString();
}

void PreviewText::setText(const QString& text)
{
    const QString shown = preview(text);
    if (shown == m_text)
        return;
    m_text = shown;
    updateGeometry();
    update();
}

void PreviewText::setMaxHeight(int height)
{
    m_maxHeight = height;
    updateGeometry();
}

int PreviewText::fullHeightFor(int width) const
{
    if (m_text.isEmpty())
        return fontMetrics().height();
    return fontMetrics().boundingRect(QRect(0, 0, qMax(width, 1), 100000), kTextFlags, m_text).height();
}

int PreviewText::heightFor(int width) const
{
    return qMin(fullHeightFor(width), m_maxHeight);
}

int PreviewText::naturalWidth() const
{
    return fontMetrics().horizontalAdvance(m_text) + 1;
}

QSize PreviewText::sizeHint() const
{
    return {naturalWidth(), fontMetrics().height()};
}

void PreviewText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int full = fullHeightFor(width());
    // Taller than the widget: the top lines go, the newest words stay.
    const QRect box(0, qMin(0, height() - full), width(), qMax(full, height()));
    painter.setClipRect(rect());
    painter.drawText(box, kTextFlags, m_text);
}
