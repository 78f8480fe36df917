#include "app/windows/settings/ShortcutRecorderButton.h"

#include "app/widgets/WindowStyle.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ShortcutRecorderButton::ShortcutRecorderButton(HotkeyMonitor& hotkey, const KeyboardTap& tap, const Shortcut& shortcut,
                                               const PlatformVocabulary& words, QWidget* parent)
    : QWidget(parent), m_recorder(hotkey, shortcut, words), m_keys(tap), m_button(new QPushButton(this)),
      m_caption(WindowStyle::secondary(QString(), this)), m_hint(WindowStyle::secondary(QString(), this))
{
    m_button->setCheckable(true);
    m_button->setMinimumWidth(m_button->fontMetrics().horizontalAdvance(QStringLiteral("Press your shortcut…")) + 32);
    m_button->setToolTip(QStringLiteral("Click, then press the keys you want to use"));
    m_caption->setWordWrap(false);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_button);
    row->addWidget(m_caption);
    row->addStretch();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    column->addWidget(m_hint);

    // The button's own checked state follows the recorder, not the click.
    connect(m_button, &QPushButton::clicked, this, [this] { m_recorder.toggle(); });
    connect(&m_recorder, &ShortcutRecorder::changed, this, &ShortcutRecorderButton::onRecorderChanged);
    connect(&m_recorder, &ShortcutRecorder::recorded, this, &ShortcutRecorderButton::shortcutRecorded);
    onRecorderChanged();
}

ShortcutRecorderButton::~ShortcutRecorderButton()
{
    if (m_listening)
        qApp->removeEventFilter(this);
}

void ShortcutRecorderButton::onRecorderChanged()
{
    const bool recording = m_recorder.isRecording();
    m_button->setText(m_recorder.title());
    m_button->setChecked(recording);
    m_caption->setText(m_recorder.caption());
    m_caption->setVisible(recording);
    m_hint->setText(m_recorder.hint().value_or(QString()));
    m_hint->setVisible(m_recorder.hint().has_value());

    if (recording && !m_listening) {
        m_keys.reset();
        qApp->installEventFilter(this);
        m_listening = true;
    } else if (!recording && m_listening) {
        qApp->removeEventFilter(this);
        m_listening = false;
    }
}

bool ShortcutRecorderButton::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_listening)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so no menu shortcut or dialog key acts on it.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto& keyEvent = static_cast<const QKeyEvent&>(*event);
        const KeyEventTranslator::Result key = m_keys.translate(keyEvent);
        if (key.kind == KeyEventTranslator::Result::Kind::keyDown && !keyEvent.isAutoRepeat())
            m_recorder.keyDown(key.keyCode, key.held, key.characters);
        else if (key.kind == KeyEventTranslator::Result::Kind::modifiersChanged)
            m_recorder.modifiersChanged(key.held);
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void ShortcutRecorderButton::hideEvent(QHideEvent* event)
{
    m_recorder.stopRecording();
    QWidget::hideEvent(event);
}
