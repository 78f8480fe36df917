#pragma once

#include <QDialog>

// The about box: the icon, name and version, and links to the privacy and
// support pages.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // "Version 0.1.0", from the application's version.
    static QString versionLine();
    // The two links, three spaces apart.
    static QString creditsHtml();
};
