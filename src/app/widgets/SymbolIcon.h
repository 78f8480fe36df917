#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;

// The small line symbols of the menu and the panel, drawn rather than taken
// from an icon theme, which a bare desktop may not have.
class SymbolIcon
{
public:
    enum class Kind {
        warningFilled, // a filled triangle with an exclamation mark
        lockFilled,    // a closed padlock
        notice,        // an exclamation mark in a circle outline
        noticeFilled,  // an exclamation mark in a filled circle
        clipboard,     // a clipboard with lines of text
    };

    static void paint(QPainter& painter, Kind kind, const QRectF& box, const QColor& colour);
    static QIcon icon(Kind kind, const QColor& colour, int side = 16);
};
