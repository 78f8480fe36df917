#pragma once

#include <QIcon>

// The small line symbols the windows show, drawn by the program so they look
// the same on every desktop and icon theme, and in the palette's colours at
// the moment they are painted (so they follow a switch to dark).
class Symbols
{
public:
    enum class Symbol {
        checkmark,
        xmark,
        checkmarkCircleFill,
        exclamationTriangleFill,
        waveform,
        sparkles,
        desktopComputer,
        textAlignLeft,
        trash,
        docOnDoc,
        gearshape,
        characterBook,
        checkmarkShield,
    };

    enum class Tint { text, secondary, accent, success, failure, warning };

    static QIcon icon(Symbol symbol, Tint tint = Tint::text);
    // The symbol at `size` device-independent pixels, for a label.
    static QPixmap pixmap(Symbol symbol, int size, Tint tint = Tint::text, qreal devicePixelRatio = 1.0);
};
