#include "app/windows/settings/DictionaryTab.h"

#include "app/widgets/WindowStyle.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"
#include "text/WordDiff.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

DictionaryTab::DictionaryTab(const WindowServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    AppSettings& settings = m_services.controller.settings();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(8);

    m_editor = new QPlainTextEdit(this);
    m_editor->setPlainText(settings.vocabulary().join(u'\n'));
    m_editor->setPlaceholderText(QStringLiteral("Anya Kowalski\nKubernetes\nmañana"));
    m_editor->setAccessibleName(QStringLiteral("Dictionary"));
    layout->addWidget(m_editor, 1);
    layout->addWidget(WindowStyle::secondary(
        QStringLiteral("One name, word or phrase per line: people, products, jargon, Spanish words it gets wrong. "
                       "Transcription listens for them, and AI cleanup spells them exactly like this."),
        this));

    m_suggestionsBox = new QWidget(this);
    auto* box = new QVBoxLayout(m_suggestionsBox);
    box->setContentsMargins(0, 10, 0, 0);
    box->setSpacing(6);
    box->addWidget(WindowStyle::heading(QStringLiteral("Suggested from your history"), m_suggestionsBox));
    box->addWidget(WindowStyle::secondary(QStringLiteral("Spellings AI cleanup had to fix in more than one dictation."),
                                          m_suggestionsBox));
    m_suggestionRows = new QVBoxLayout;
    m_suggestionRows->setSpacing(4);
    box->addLayout(m_suggestionRows);
    layout->addWidget(m_suggestionsBox);
    m_suggestionsBox->hide();

    connect(m_editor, &QPlainTextEdit::textChanged, this, &DictionaryTab::onEdited);
    connect(&settings, &AppSettings::vocabularyChanged, this, &DictionaryTab::onVocabularyChanged);
    connect(&settings, &AppSettings::dismissedSuggestionsChanged, this, &DictionaryTab::refreshSuggestions);
    connect(&m_services.controller.history(), &HistoryStore::entriesChanged, this, [this] {
        if (isVisible())
            recount();
    });
}

void DictionaryTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    recount();
}

void DictionaryTab::recount()
{
    // Diffing every dictation takes long with a large history: off the UI
    // thread, and only when the history or the tab's visibility changes,
    // never on a keystroke.
    const quint64 generation = ++m_countGeneration;
    const QList<WordDiff::Pair> pairs = WordDiff::pairs(m_services.controller.history().entries());
    QThreadPool::globalInstance()->start([pairs, generation, tab = QPointer<DictionaryTab>(this)] {
        QHash<QString, int> counts = WordDiff::fixedWordCounts(pairs);
        QMetaObject::invokeMethod(qApp, [tab, generation, counts = std::move(counts)] {
            if (!tab || generation != tab->m_countGeneration)
                return;
            tab->m_counts = counts;
            tab->refreshSuggestions();
        });
    });
}

void DictionaryTab::onEdited()
{
    AppSettings& settings = m_services.controller.settings();
    const QStringList parsed = AppSettings::parseVocabulary(m_editor->toPlainText());
    if (parsed != settings.vocabulary())
        settings.setVocabulary(parsed);
}

void DictionaryTab::onVocabularyChanged(const QStringList& vocabulary)
{
    // Changed elsewhere (a suggestion added): show it, unless the text already says the same.
    if (AppSettings::parseVocabulary(m_editor->toPlainText()) != vocabulary)
        m_editor->setPlainText(vocabulary.join(u'\n'));
    refreshSuggestions();
}

void DictionaryTab::add(const QString& word)
{
    AppSettings& settings = m_services.controller.settings();
    settings.setVocabulary(settings.vocabulary() << word);
}

void DictionaryTab::dismiss(const QString& word)
{
    AppSettings& settings = m_services.controller.settings();
    settings.setDismissedSuggestions(settings.dismissedSuggestions() << word);
}

void DictionaryTab::refreshSuggestions()
{
    const AppSettings& settings = m_services.controller.settings();
    const QStringList found = WordDiff::suggestions(m_counts, settings.vocabulary(), settings.dismissedSuggestions());
    if (found == m_suggestions && m_suggestionRows->count() == found.size())
        return;
    m_suggestions = found;

    while (QLayoutItem* item = m_suggestionRows->takeAt(0)) {
        // Later: the row's own button may be the one that caused this.
        item->widget()->hide();
        item->widget()->setObjectName(QString());
        item->widget()->deleteLater();
        delete item;
    }
    for (const QString& word : found) {
        auto* row = new QWidget(m_suggestionsBox);
        row->setObjectName(word);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(word, row);
        label->setTextFormat(Qt::PlainText);
        rowLayout->addWidget(label, 1);
        auto* addButton = new QPushButton(QStringLiteral("Add"), row);
        addButton->setToolTip(QStringLiteral("Add “%1” to the dictionary").arg(word));
        auto* dismissButton = new QPushButton(QStringLiteral("Dismiss"), row);
        dismissButton->setToolTip(QStringLiteral("Don't suggest “%1” again").arg(word));
        rowLayout->addWidget(addButton);
        rowLayout->addWidget(dismissButton);
        connect(addButton, &QPushButton::clicked, this, [this, word] { add(word); });
        connect(dismissButton, &QPushButton::clicked, this, [this, word] { dismiss(word); });
        m_suggestionRows->addWidget(row);
    }
    m_suggestionsBox->setVisible(!found.isEmpty());
}
