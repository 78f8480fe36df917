#include "app/widgets/SymbolView.h"

#include <QPainter>

SymbolView::SymbolView(Symbols::Symbol symbol, int size, Symbols::Tint tint, QWidget* parent)
    : QWidget(parent), m_symbol(symbol), m_tint(tint), m_size(size)
{
    setFixedSize(size, size);
}

void SymbolView::setSymbol(Symbols::Symbol symbol, Symbols::Tint tint)
{
    m_symbol = symbol;
    m_tint = tint;
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Symbols::icon(m_symbol, m_tint).paint(&painter, rect());
}
