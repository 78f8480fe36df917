#include "control/DictationCommands.h"

#include "control/DictationController.h"

namespace {

const QString kNotDictating = QStringLiteral("Vell isn't dictating.");
const QString kStillFinishing = QStringLiteral("Vell is still finishing the last dictation.");
const QString kCouldNotStart = QStringLiteral("Vell couldn't start a dictation.");

} // namespace

DictationCommands::DictationCommands(DictationController& controller, Hooks hooks, QObject* parent)
    : QObject(parent), m_controller(controller), m_hooks(std::move(hooks))
{
    connect(&m_controller, &DictationController::stateChanged, this, &DictationCommands::statusChanged);
    connect(&m_controller.notice(), &Notice::changed, this, &DictationCommands::statusChanged);
    connect(&m_controller, &DictationController::dictationEnded, this, [this](DictationOutcome outcome) {
        m_endedDuringCommand = outcome;
        Q_EMIT statusChanged();
    });
}

std::optional<QString> DictationCommands::run(Command command)
{
    using State = DictationState;
    const State state = m_controller.state();
    m_endedDuringCommand.reset();
    const bool dictating = state == State::starting || state == State::listening;

    switch (command) {
    case Command::toggle:
        if (dictating) {
            m_controller.stop();
            return std::nullopt;
        }
        return state == State::finishing ? std::optional(kStillFinishing) : startNow();
    case Command::start:
        if (dictating)
            return QStringLiteral("Vell is already dictating.");
        return state == State::finishing ? std::optional(kStillFinishing) : startNow();
    case Command::stop:
        if (!dictating)
            return state == State::finishing ? kStillFinishing : kNotDictating;
        m_controller.stop();
        return std::nullopt;
    case Command::cancel:
        if (state == State::idle)
            return kNotDictating;
        m_controller.cancel();
        return std::nullopt;
    case Command::press:
        if (state == State::finishing)
            return kStillFinishing;
        m_controller.handle(HotkeyMonitor::Event::pressed, DictationController::EventSource::command);
        // A press that starts at once (a shortcut with a key) may be refused.
        if (m_endedDuringCommand == DictationOutcome::refused)
            return m_controller.notice().text().value_or(kCouldNotStart);
        return std::nullopt;
    case Command::release:
        m_controller.handle(HotkeyMonitor::Event::released, DictationController::EventSource::command);
        return std::nullopt;
    case Command::showSettings:
        m_hooks.show(Window::settings);
        return std::nullopt;
    case Command::showHistory:
        m_hooks.show(Window::history);
        return std::nullopt;
    case Command::showSetup:
        m_hooks.show(Window::setup);
        return std::nullopt;
    case Command::quit:
        m_hooks.quit();
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> DictationCommands::startNow()
{
    if (m_controller.start())
        return std::nullopt;
    return m_controller.notice().text().value_or(kCouldNotStart);
}

QString DictationCommands::state() const
{
    return stateName(m_controller.state());
}

bool DictationCommands::isNoticeShowing() const
{
    return m_controller.notice().text().has_value();
}

QString DictationCommands::lastOutcome() const
{
    const std::optional<DictationOutcome> outcome = m_controller.lastOutcome();
    return outcome ? QString(outcomeName(*outcome)) : QString();
}
