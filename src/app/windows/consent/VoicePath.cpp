#include "app/windows/consent/VoicePath.h"

#include "app/widgets/SymbolView.h"
#include "app/widgets/WindowStyle.h"
#include "platform/PlatformVocabulary.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

QList<VoicePath::Stop> VoicePath::stops(const PlatformVocabulary& words)
{
    using Symbol = Symbols::Symbol;
    return {
        {Symbol::desktopComputer, words.yourComputer, QStringLiteral("Records only while you use the shortcut")},
        {Symbol::waveform, QStringLiteral("AssemblyAI or Soniox"), QStringLiteral("Turns your audio into text")},
        {Symbol::sparkles, QStringLiteral("Anthropic, if cleanup is on"),
         QStringLiteral("Gets the text and your dictionary, not the audio")},
        {Symbol::textAlignLeft, words.backToYourComputer, QStringLiteral("History stays on ") + words.thisComputer},
    };
}

VoicePath::VoicePath(const PlatformVocabulary& words, QWidget* parent) : QWidget(parent)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 4, 0, 4);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(10);
    int row = 0;
    for (const Stop& stop : stops(words)) {
        auto* symbol = new SymbolView(stop.symbol, 20, Symbols::Tint::accent, this);
        m_symbols.append(symbol);
        grid->addWidget(symbol, row, 0, Qt::AlignTop | Qt::AlignHCenter);
        auto* text = new QVBoxLayout;
        text->setSpacing(1);
        auto* title = new QLabel(stop.title, this);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        text->addWidget(title);
        QLabel* line = WindowStyle::secondary(stop.line, this);
        line->setWordWrap(false);
        text->addWidget(line);
        grid->addLayout(text, row, 1);
        ++row;
    }
    grid->setColumnMinimumWidth(0, 28);
    grid->setColumnStretch(1, 1);
}

void VoicePath::paintEvent(QPaintEvent*)
{
    // A thin line joins the stops, from under one symbol to the next.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = palette().color(QPalette::Highlight);
    colour.setAlphaF(0.45);
    painter.setPen(QPen(colour, 1.5, Qt::DotLine, Qt::RoundCap));
    for (qsizetype i = 0; i + 1 < m_symbols.size(); ++i) {
        const QRect from = m_symbols[i]->geometry();
        const QRect to = m_symbols[i + 1]->geometry();
        painter.drawLine(QPointF(from.center().x() + 0.5, from.bottom() + 5),
                         QPointF(to.center().x() + 0.5, to.top() - 5));
    }
}
