#pragma once

#include "app/widgets/Symbols.h"

#include <QWidget>

// One symbol at a fixed size, painted afresh each time, so it follows the
// palette.
class SymbolView : public QWidget
{
    Q_OBJECT

public:
    SymbolView(Symbols::Symbol symbol, int size, Symbols::Tint tint = Symbols::Tint::text, QWidget* parent = nullptr);

    Symbols::Symbol symbol() const { return m_symbol; }
    void setSymbol(Symbols::Symbol symbol, Symbols::Tint tint);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbols::Symbol m_symbol;
    Symbols::Tint m_tint;
    int m_size;
};
