#include "app/windows/history/DeleteAllDialog.h"

#include "platform/PlatformVocabulary.h"

#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>

DeleteAllDialog::DeleteAllDialog(const PlatformVocabulary& words, std::function<void()> deleteAll, QWidget* parent)
    : QMessageBox(parent)
{
    setIcon(QMessageBox::Warning);
    setWindowTitle(QStringLiteral("Delete all dictations?"));
    setText(QStringLiteral("Delete all dictations?"));
    setInformativeText(
        QStringLiteral("This removes every dictation from History on %1. It can't be undone.").arg(words.thisComputer));
    m_delete = addButton(QStringLiteral("Delete All"), QMessageBox::DestructiveRole);
    setDefaultButton(addButton(QMessageBox::Cancel));
    setWindowModality(Qt::WindowModal);
    // Wide enough that the question reads in two lines rather than five.
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addItem(new QSpacerItem(380, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &QMessageBox::buttonClicked, this, [this, deleteAll = std::move(deleteAll)](QAbstractButton* b) {
        if (b == m_delete)
            deleteAll();
    });
}

DeleteAllDialog* DeleteAllDialog::ask(const PlatformVocabulary& words, std::function<void()> deleteAll, QWidget* parent)
{
    auto* dialog = new DeleteAllDialog(words, std::move(deleteAll), parent);
    dialog->open();
    return dialog;
}
