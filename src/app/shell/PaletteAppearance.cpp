#include "app/shell/PaletteAppearance.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

PaletteAppearance::PaletteAppearance(QApplication& application)
    : m_application(application), m_systemStyle(QApplication::style()->name()), m_systemPalette(QApplication::palette())
{}

void PaletteAppearance::apply(AppearanceSetting appearance)
{
    // Platform styles such as the GTK one draw with the desktop's colours and
    // ignore a palette, so a forced look needs Fusion.
    const QString style = appearance == AppearanceSetting::system ? m_systemStyle : QStringLiteral("Fusion");
    if (QApplication::style()->name().compare(style, Qt::CaseInsensitive) != 0)
        m_application.setStyle(QStyleFactory::create(style));

    switch (appearance) {
    case AppearanceSetting::system:
        m_application.setPalette(m_systemPalette);
        break;
    case AppearanceSetting::light:
        m_application.setPalette(lightPalette());
        break;
    case AppearanceSetting::dark:
        m_application.setPalette(darkPalette());
        break;
    }
}

QPalette PaletteAppearance::lightPalette()
{
    QPalette palette(QColor(239, 239, 239));
    palette.setColor(QPalette::Window, QColor(239, 239, 239));
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(247, 247, 247));
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Button, QColor(239, 239, 239));
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(0, 102, 204));
    palette.setColor(QPalette::Highlight, QColor(48, 140, 198));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(190, 190, 190));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(190, 190, 190));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(190, 190, 190));
    return palette;
}

QPalette PaletteAppearance::darkPalette()
{
    QPalette palette(QColor(53, 53, 53));
    palette.setColor(QPalette::Window, QColor(53, 53, 53));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(35, 35, 35));
    palette.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    palette.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 128));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(53, 53, 53));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, QColor(127, 127, 127));
    return palette;
}
