#include "app/shell/AboutDialog.h"

#include "app/shell/ProductLinks.h"
#include "app/tray/TrayIcon.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Vell"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(32, 24, 32, 16);

    auto* icon = new QLabel(this);
    const QColor ink = palette().color(QPalette::WindowText);
    icon->setPixmap(QPixmap::fromImage(TrayIcon::render({}, 64, devicePixelRatioF(), ink)));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* name = new QLabel(QStringLiteral("Vell"), this);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    auto* version = new QLabel(versionLine(), this);
    version->setAlignment(Qt::AlignCenter);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version);

    auto* credits = new QLabel(creditsHtml(), this);
    credits->setObjectName(QStringLiteral("credits"));
    credits->setAlignment(Qt::AlignCenter);
    credits->setOpenExternalLinks(true);
    credits->setTextFormat(Qt::RichText);
    QFont small = credits->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    credits->setFont(small);
    layout->addWidget(credits);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString AboutDialog::versionLine()
{
    return QStringLiteral("Version ") + QCoreApplication::applicationVersion();
}

QString AboutDialog::creditsHtml()
{
    return QStringLiteral("<a href=\"%1\">Privacy</a>&nbsp;&nbsp;&nbsp;<a href=\"%2\">Support</a>")
        .arg(ProductLinks::privacy().toString(), ProductLinks::support().toString());
}
