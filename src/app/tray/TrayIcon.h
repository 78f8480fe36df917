#pragma once

#include "control/DictationState.h"

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QRectF>

// The tray icon: five rounded bars that follow the microphone level while
// listening and rest at fixed heights otherwise, with a badge at the lower
// right when something needs the user's attention. Geometry is in points of
// a 20 × 18 drawing, scaled to whatever pixel size the tray asks for.
class TrayIcon
{
public:
    static constexpr QSizeF kSize{20, 18};
    static constexpr qreal kBarWidth = 2.2;
    static constexpr qreal kCentreY = 9;

    struct Look
    {
        DictationState state = DictationState::idle;
        int levelStep = 0; // 0 to 3; only drawn while listening
        bool needsAttention = false;

        bool operator==(const Look&) const = default;
    };

    // The five bars, left to right, in points.
    static QList<QRectF> bars(DictationState state, int levelStep);
    static QRectF badge() { return {13.5, 11, 6, 6}; }
    // Cleared before the badge is drawn, so it stands apart from the bars.
    static QRectF badgeClearing() { return {12.5, 10, 8, 8}; }
    static QString accessibleLabel(bool needsAttention);

    // The drawing fitted into a square of `side` device-independent pixels,
    // rendered at `devicePixelRatio`.
    static QImage render(const Look& look, int side, qreal devicePixelRatio, const QColor& colour = kColour);
    // Pixmaps for the usual tray sizes and `extraSide`, each also at twice the density.
    static QIcon icon(const Look& look, int extraSide = 0, const QColor& colour = kColour);

    // Light bars, since most desktop panels are dark; the outline keeps them
    // visible on a light one.
    static constexpr QColor kColour{0xee, 0xee, 0xee};

    // The application icon (launchers, the About window's peers): the resting
    // bars in kColour on a dark rounded tile, so they read on light and dark
    // backgrounds alike. In points of a kAppIconSide square; the PNGs and the
    // SVG both come from this one geometry.
    static constexpr qreal kAppIconSide = 24;
    static constexpr qreal kAppIconCornerRadius = 5;
    static constexpr QColor kAppIconTile{0x30, 0x30, 0x30};
    static QImage appIcon(int side);
    static QByteArray appIconSvg();
};
