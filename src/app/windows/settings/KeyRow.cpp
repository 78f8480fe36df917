#include "app/windows/settings/KeyRow.h"

#include "app/widgets/BusyIndicator.h"
#include "app/widgets/SymbolView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

KeyRow::KeyRow(const QString& title, KeyService service, KeyChecks& checks, Load load, Save save,
               std::function<void()> saved, QWidget* parent)
    : QWidget(parent), m_title(title), m_service(service), m_checks(checks), m_load(std::move(load)),
      m_save(std::move(save)), m_saved(std::move(saved)), m_field(new QLineEdit(this)),
      m_symbol(new SymbolView(Symbols::Symbol::checkmark, 14, Symbols::Tint::success, this)),
      m_verdict(new QLabel(this)), m_busy(new BusyIndicator(16, this))
{
    m_field->setPlaceholderText(QStringLiteral("Paste your key"));
    // Masked unless being edited, so a shared screen does not show it.
    m_field->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_field->setClearButtonEnabled(true);
    m_field->setAccessibleName(title);
    m_field->installEventFilter(this);
    m_verdict->setWordWrap(true);
    m_verdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_field, 3);
    layout->addWidget(m_symbol, 0, Qt::AlignVCenter);
    layout->addWidget(m_busy, 0, Qt::AlignVCenter);
    layout->addWidget(m_verdict, 2);

    connect(m_field, &QLineEdit::returnPressed, this, &KeyRow::commit);
    connect(m_field, &QLineEdit::textChanged, this, &KeyRow::showVerdict);
    connect(&m_checks, &KeyChecks::statesChanged, this, &KeyRow::showVerdict);
    reload();
}

void KeyRow::reload()
{
    if (m_field->hasFocus())
        return;
    m_savedKey = m_load();
    m_field->setText(m_savedKey);
    showVerdict();
}

void KeyRow::commit()
{
    const QString key = m_field->text().trimmed();
    if (key == m_savedKey)
        return;
    m_savedKey = key;
    if (m_field->text() != key)
        m_field->setText(key);
    m_save(key);
    m_checks.forget(m_service);
    m_checks.check(m_service, key);
    if (!key.isEmpty() && m_saved)
        m_saved();
}

QString KeyRow::verdictText() const
{
    return m_verdict->isVisibleTo(this) ? m_verdict->text() : QString();
}

bool KeyRow::isChecking() const
{
    return m_busy->isVisibleTo(this);
}

bool KeyRow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::FocusOut)
        commit();
    return QWidget::eventFilter(watched, event);
}

void KeyRow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    reload();
}

void KeyRow::showVerdict()
{
    const KeyChecks::State state = m_checks.state(m_service, m_field->text().trimmed());
    using Kind = KeyChecks::State::Kind;
    m_busy->setVisible(state.kind() == Kind::checking);
    m_symbol->setVisible(state.kind() == Kind::works || state.kind() == Kind::failed);
    m_verdict->setVisible(state.kind() == Kind::works || state.kind() == Kind::failed);
    if (state.kind() == Kind::works) {
        m_symbol->setSymbol(Symbols::Symbol::checkmark, Symbols::Tint::success);
        m_verdict->setText(QStringLiteral("Works"));
    } else if (state.kind() == Kind::failed) {
        m_symbol->setSymbol(Symbols::Symbol::xmark, Symbols::Tint::failure);
        m_verdict->setText(state.message());
    }
}
