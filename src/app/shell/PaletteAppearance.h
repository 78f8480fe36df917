#pragma once

#include "platform/AppearancePort.h"

#include <QPalette>
#include <QString>

class QApplication;

// Forces the Fusion style with a light or a dark palette, or gives the
// application back the style and palette it started with (the desktop's own).
// Main thread only.
class PaletteAppearance : public AppearancePort
{
public:
    explicit PaletteAppearance(QApplication& application);

    void apply(AppearanceSetting appearance) override;

    static QPalette lightPalette();
    static QPalette darkPalette();

private:
    QApplication& m_application;
    QString m_systemStyle;
    QPalette m_systemPalette;
};
