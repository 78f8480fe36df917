#include "app/windows/history/HistoryWindow.h"

#include "app/widgets/SymbolView.h"
#include "app/widgets/WindowStyle.h"
#include "app/windows/history/DeleteAllDialog.h"
#include "app/windows/history/HistoryModel.h"
#include "app/windows/history/HistoryRowDelegate.h"
#include "control/DictationController.h"
#include "platform/Clipboard.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QWidget* emptyState(Symbols::Symbol symbol, const QString& title, const QString& line, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->addStretch(2);
    layout->addWidget(new SymbolView(symbol, 44, Symbols::Tint::secondary, page), 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    QLabel* heading = WindowStyle::heading(title, page);
    heading->setAlignment(Qt::AlignHCenter);
    layout->addWidget(heading);
    if (!line.isEmpty()) {
        QLabel* detail = WindowStyle::secondary(line, page);
        detail->setAlignment(Qt::AlignHCenter);
        layout->addWidget(detail);
    }
    layout->addStretch(3);
    return page;
}

} // namespace

HistoryWindow::HistoryWindow(const WindowServices& services, QWidget* parent)
    : QWidget(parent), m_services(services), m_model(new HistoryModel(services.controller.history(), this))
{
    setWindowTitle(QStringLiteral("Vell History"));

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search"));
    m_search->setClearButtonEnabled(true);
    m_search->setAccessibleName(QStringLiteral("Search"));
    m_clearAll = new QPushButton(Symbols::icon(Symbols::Symbol::trash), QStringLiteral("Clear All"), this);
    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(12, 12, 12, 8);
    toolbar->addWidget(m_search, 1);
    toolbar->addWidget(m_clearAll);
    m_fileTrouble = WindowStyle::secondary(QString(), this);
    m_fileTrouble->setContentsMargins(14, 0, 14, 8);
    m_fileTrouble->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_list = new QListView(this);
    m_list->setModel(m_model);
    m_delegate = new HistoryRowDelegate(*m_model, *m_list);
    m_list->setItemDelegate(m_delegate);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setUniformItemSizes(false);
    m_list->setMouseTracking(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);

    m_empty = emptyState(Symbols::Symbol::waveform, QStringLiteral("No dictations yet"),
                         QStringLiteral("Everything you dictate is saved here, even if pasting fails."), this);
    m_noMatches = emptyState(Symbols::Symbol::textAlignLeft, QStringLiteral("No matches"),
                             QStringLiteral("No dictation contains these words."), this);
    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);
    m_stack->addWidget(m_noMatches);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(toolbar);
    layout->addWidget(m_fileTrouble);
    layout->addWidget(m_stack, 1);

    connect(m_search, &QLineEdit::textChanged, m_model, &HistoryModel::setSearch);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryWindow::showContent);
    connect(&m_services.controller.history(), &HistoryStore::unsavedChangesChanged, this,
            &HistoryWindow::showFileTrouble);
    connect(&m_services.controller.usage(), &UsageLog::unsavedChangesChanged, this, &HistoryWindow::showFileTrouble);
    connect(m_delegate, &HistoryRowDelegate::copyRequested, this, &HistoryWindow::copy);
    connect(m_list, &QWidget::customContextMenuRequested, this, &HistoryWindow::openRowMenu);
    connect(m_clearAll, &QPushButton::clicked, this, [this] {
        HistoryStore& history = m_services.controller.history();
        DeleteAllDialog::ask(
            *m_services.words, [&history] { history.clear(); }, this);
    });
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, m_list);
    copyShortcut->setContext(Qt::WidgetShortcut);
    connect(copyShortcut, &QShortcut::activated, this, [this] {
        if (m_list->currentIndex().isValid())
            copy(m_list->currentIndex().row());
    });
    auto* deleteShortcut = new QShortcut(QKeySequence::Delete, m_list);
    deleteShortcut->setContext(Qt::WidgetShortcut);
    connect(deleteShortcut, &QShortcut::activated, this, [this] {
        if (m_list->currentIndex().isValid())
            remove(m_list->currentIndex().row());
    });

    showContent();
    showFileTrouble();
    resize(560, 620);
}

bool HistoryWindow::showsEmptyState() const
{
    return m_stack->currentWidget() == m_empty;
}

void HistoryWindow::showContent()
{
    if (m_services.controller.history().entries().isEmpty())
        m_stack->setCurrentWidget(m_empty);
    else if (m_model->rowCount() == 0)
        m_stack->setCurrentWidget(m_noMatches);
    else
        m_stack->setCurrentWidget(m_list);
    m_clearAll->setEnabled(!m_services.controller.history().entries().isEmpty());
}

void HistoryWindow::showFileTrouble()
{
    const std::optional<QString> text =
        DictationProblemText::description(m_services.controller.storedFiles().current());
    m_fileTrouble->setText(text.value_or(QString()));
    m_fileTrouble->setVisible(text.has_value());
}

void HistoryWindow::copy(int row)
{
    const HistoryEntry& entry = m_model->entry(row);
    m_services.clipboard.setText(entry.text, Clipboard::Visibility::normal);
    m_model->setCopiedID(entry.id);
}

void HistoryWindow::copyOriginal(int row)
{
    const HistoryEntry& entry = m_model->entry(row);
    if (entry.rawText)
        m_services.clipboard.setText(*entry.rawText, Clipboard::Visibility::normal);
}

void HistoryWindow::remove(int row)
{
    m_services.controller.history().remove(m_model->entry(row).id);
}

void HistoryWindow::openRowMenu(const QPoint& position)
{
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return;
    const QUuid id = m_model->entry(index.row()).id;
    if (m_menu)
        m_menu->close();
    m_menu = new QMenu(this);
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    // By id: the list may change while the menu is open.
    const auto rowOf = [this, id] { return m_model->rowOf(id); };
    if (m_model->entry(index.row()).rawText) {
        connect(m_menu->addAction(QStringLiteral("Copy Original Transcript")), &QAction::triggered, this,
                [this, rowOf] {
                    if (const int row = rowOf(); row >= 0)
                        copyOriginal(row);
                });
    }
    connect(m_menu->addAction(QStringLiteral("Delete")), &QAction::triggered, this, [this, rowOf] {
        if (const int row = rowOf(); row >= 0)
            remove(row);
    });
    m_menu->popup(m_list->viewport()->mapToGlobal(position));
}
