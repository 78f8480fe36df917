#include "control/DictationController.h"

#include "platform/MicrophonePermission.h"
#include "platform/SessionEvents.h"
#include "platform/Workspace.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/VellLog.h"
#include "transcription/AudioStream.h"
#include "transcription/NetworkStatus.h"

#include <QMetaEnum>

namespace {

const VellLog& logger()
{
    return VellLog::dictation();
}

template <typename Enum> QString caseName(Enum value)
{
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(int(value)));
}

// The non-empty parts joined by single spaces; none when nothing is left.
std::optional<QString> joined(std::initializer_list<std::optional<QString>> parts)
{
    QStringList present;
    for (const std::optional<QString>& part : parts)
        if (part && !part->isEmpty())
            present << *part;
    if (present.isEmpty())
        return std::nullopt;
    return present.join(QLatin1Char(' '));
}

} // namespace

DictationController::DictationController(AppSettings& settings, DesktopSettings& desktopSettings, HistoryStore& history,
                                         const DictationPlatform& platform, DictationControllerOptions options,
                                         QObject* parent)
    : QObject(parent), m_settings(settings), m_desktopSettings(desktopSettings), m_history(history),
      m_platform(platform), m_options(std::move(options)), m_usage(m_options.dataFolder),
      m_hotkey(platform.keyboardTap, platform.sessionEvents, m_options.hotkeyTimings),
      m_keyChecks(platform.network, platform.preferences), m_inputs(platform.audio), m_checkpoint(m_options.dataFolder),
      m_capture(platform.audio, m_options.captureTimings), m_sounds(platform.soundPlayer),
      m_inserter(platform.workspace, platform.clipboard, platform.accessibility, platform.keystrokes,
                 m_options.clipboardRestoreDelay)
{
    m_checkpoint.recover(m_history);
    m_history.prune(m_settings.historyRetention(), QDateTime::currentDateTimeUtc());

    NetworkStatus::shared();

    m_hotkey.setShortcut(m_desktopSettings.shortcut());
    m_hotkey.setOnEvent([self = QPointer(this)](HotkeyMonitor::Event event) {
        if (self)
            self->handle(event);
    });
    connect(&m_desktopSettings, &DesktopSettings::shortcutChanged, this, [this](const Shortcut& shortcut) {
        m_hotkey.setShortcut(shortcut);
        m_hotkey.setActive(false);
    });
    m_hotkey.start();

    // Both arrive on the capture's own thread.
    m_capture.setFailure([this](AudioCapture::CaptureError error) {
        QMetaObject::invokeMethod(
            this, [this, error] { onCaptureFailed(error); }, Qt::QueuedConnection);
    });
    m_capture.setNote([this](const QString& note) {
        QMetaObject::invokeMethod(
            this,
            [this, note] {
                if (m_micNote != note) {
                    m_micNote = note;
                    Q_EMIT micNoteChanged();
                }
            },
            Qt::QueuedConnection);
    });

    connect(&platform.sessionEvents, &SessionEvents::goingToSleep, this, &DictationController::onSleepOrLock);
    connect(&platform.sessionEvents, &SessionEvents::screenLocked, this, &DictationController::onSleepOrLock);

    m_armTimer.setSingleShot(true);
    m_armTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_armTimer, &QTimer::timeout, this, [this] { m_pressStartedSession = start(); });

    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::finishing || !m_transcription)
            return;
        logger().info(QStringLiteral("transcriber still busy after the flush limit; finishing with the text so far"));
        dropTranscription();
        finish(std::nullopt);
    });

    m_noticeTimer.setSingleShot(true);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        if (!m_notice && !m_noticeDetail)
            return;
        m_notice.reset();
        m_noticeDetail.reset();
        Q_EMIT noticeChanged();
    });

    m_keyboardGrabTimer.setInterval(m_options.timings.keyboardGrabPoll);
    connect(&m_keyboardGrabTimer, &QTimer::timeout, this, &DictationController::checkKeyboardGrab);
    checkKeyboardGrab();
    m_keyboardGrabTimer.start();
}

DictationController::~DictationController()
{
    // The capture's thread must not call back into a half-destroyed controller.
    m_capture.setSink({});
    m_capture.setLevel({});
    m_capture.setFailure({});
    m_capture.setNote({});
    dropTranscription();
}

// --- Observable fields -------------------------------------------------------

void DictationController::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void DictationController::setCommitted(const QString& text)
{
    if (m_committed == text)
        return;
    m_committed = text;
    Q_EMIT committedChanged();
}

void DictationController::setInterim(const QString& text)
{
    if (m_interim == text)
        return;
    m_interim = text;
    Q_EMIT interimChanged();
}

void DictationController::setLevel(float level)
{
    if (m_level != level) {
        m_level = level;
        Q_EMIT levelChanged();
    }
    const int step = qMin(int(level * 12), 3);
    if (m_levelStep != step) {
        m_levelStep = step;
        Q_EMIT levelStepChanged();
    }
}

void DictationController::setPolishing(bool polishing)
{
    if (m_isPolishing == polishing)
        return;
    m_isPolishing = polishing;
    Q_EMIT isPolishingChanged();
}

void DictationController::setReconnecting(bool reconnecting)
{
    if (m_isReconnecting == reconnecting)
        return;
    m_isReconnecting = reconnecting;
    Q_EMIT isReconnectingChanged();
}

void DictationController::setWantsConsent(bool wants)
{
    if (m_wantsConsent == wants)
        return;
    m_wantsConsent = wants;
    Q_EMIT wantsConsentChanged();
}

void DictationController::clearUnseenFailure()
{
    if (!m_unseenFailure)
        return;
    m_unseenFailure.reset();
    Q_EMIT unseenFailureChanged();
}

// --- The shortcut ------------------------------------------------------------

void DictationController::handle(HotkeyMonitor::Event event)
{
    const TriggerMode mode = m_desktopSettings.triggerMode();
    logger().debug(QStringLiteral("hotkey %1 state=%2 mode=%3")
                       .arg(caseName(event), caseName(m_state), TriggerModes::rawValue(mode)));

    switch (event) {
    case HotkeyMonitor::Event::pressed:
        m_pressStartedSession = false;
        if (isActive()) {
            if (mode == TriggerMode::toggle || m_latched)
                stop();
        } else if (m_state == State::idle) {
            m_pressedAt.emplace();
            m_pressedAt->start();
            m_latched = false;
            if (m_desktopSettings.shortcut().isModifierOnly())
                m_armTimer.start(m_options.timings.armDelay); // a modifier may still turn out to be part of a chord
            else
                m_pressStartedSession = start();
        }
        return;

    case HotkeyMonitor::Event::released:
        if (m_armTimer.isActive()) {
            m_armTimer.stop();
            if (mode == TriggerMode::hold)
                return;
            m_latched = mode == TriggerMode::holdOrTap;
            start();
            return;
        }
        if (!isActive() || !m_pressStartedSession)
            return;
        if (mode == TriggerMode::hold) {
            stop();
        } else if (mode == TriggerMode::holdOrTap) {
            if (!m_pressedAt || m_pressedAt->elapsed() >= m_options.timings.holdThreshold.count())
                stop();
            else
                m_latched = true; // a tap: keep listening until the next press
        }
        return;

    case HotkeyMonitor::Event::interrupted:
        m_armTimer.stop();
        if (m_pressStartedSession && isActive())
            cancel();
        return;

    case HotkeyMonitor::Event::escape:
        cancel();
        return;
    }
}

void DictationController::onSleepOrLock()
{
    if (!isActive())
        return;
    logger().info(QStringLiteral("sleep or lock while listening; cancelling"));
    cancel();
}

void DictationController::checkKeyboardGrab()
{
    std::optional<QString> owner;
    if (const std::optional<KeyboardGrab> grab = m_platform.workspace.keyboardGrab())
        owner = grab->owner && grab->owner->name ? *grab->owner->name : QString();
    if (owner == m_keyboardGrabApp)
        return;
    logger().info(QStringLiteral("secure input ") +
                  (owner ? QStringLiteral("on (%1)").arg(owner->isEmpty() ? QStringLiteral("unknown app") : *owner)
                         : QStringLiteral("off")));
    m_keyboardGrabApp = owner;
    Q_EMIT keyboardGrabAppChanged();
}

// --- Starting and streaming --------------------------------------------------

bool DictationController::start()
{
    if (m_state != State::idle)
        return false;

    const TranscriptionProvider provider = m_settings.provider();
    const QString key = m_settings.apiKey(provider);
    const bool needsNetwork = provider != TranscriptionProvider::mock;
    if (needsNetwork && key.isEmpty()) {
        showNotice(
            QStringLiteral("Add your %1 API key in Vell Settings.").arg(TranscriptionProviders::title(provider)));
        return false;
    }
    if (needsNetwork && !m_settings.aiSharingAllowed()) {
        setWantsConsent(true);
        showNotice(QStringLiteral("Allow Vell to send your voice for transcription."));
        return false;
    }
    if (needsNetwork && NetworkStatus::shared().satisfied() == false) {
        showNotice(QStringLiteral("No internet connection."));
        return false;
    }
    switch (m_platform.microphone.status()) {
    case MicrophonePermission::Status::denied:
        showNotice(m_options.words->microphoneOffNotice);
        return false;
    case MicrophonePermission::Status::undetermined:
        m_platform.microphone.request();
        showNotice(QStringLiteral("Allow microphone access, then try again."));
        return false;
    case MicrophonePermission::Status::granted:
        break;
    }

    m_target = m_inserter.captureTarget();

    auto audio = std::make_shared<AudioStream>();
    m_capture.setSink([audio](QByteArray chunk) { audio->push(std::move(chunk)); });
    m_capture.setLevel([this](float level) {
        QMetaObject::invokeMethod(
            this, [this, level] { setLevel(level); }, Qt::QueuedConnection);
    });

    const QUuid sessionID = QUuid::createUuid();
    m_sessionID = sessionID;
    if (m_micNote) {
        m_micNote.reset();
        Q_EMIT micNoteChanged();
    }
    m_capture.setInputDeviceUid(m_desktopSettings.inputDeviceUID());
    m_capture.setPreferBuiltInMic(m_settings.preferBuiltInMic());
    m_capture.start([this, sessionID](std::optional<AudioCapture::CaptureError> error) {
        QMetaObject::invokeMethod(
            this, [this, sessionID, error] { onCaptureStarted(sessionID, error); }, Qt::QueuedConnection);
    });
    m_audio = audio;

    setCommitted(QString());
    setInterim(QString());
    if (m_language) {
        m_language.reset();
        Q_EMIT languageChanged();
    }
    if (m_notice || m_noticeDetail) {
        m_notice.reset();
        m_noticeDetail.reset();
        m_noticeTimer.stop();
        Q_EMIT noticeChanged();
    }
    m_cancelled = false;
    m_micFailure.reset();
    m_listeningSince = QDateTime::currentDateTimeUtc();
    m_stoppedAt.reset();
    setState(State::starting);
    m_hotkey.setCapturesEscape(true);

    TranscriberConfig config;
    config.apiKey = key;
    config.language = m_settings.pinnedLanguage();
    config.vocabulary = m_settings.vocabulary();
    std::unique_ptr<StreamingTranscriber> transcriber = m_options.makeTranscriber(provider);
    dropTranscription();
    if (!transcriber) {
        logger().error(QStringLiteral("no transcriber for ") + TranscriptionProviders::rawValue(provider));
        QMetaObject::invokeMethod(
            this,
            [this] {
                finish(QStringLiteral("%1 isn't available in this version of Vell.")
                           .arg(TranscriptionProviders::title(m_settings.provider())));
            },
            Qt::QueuedConnection);
        return true;
    }
    m_transcription = transcriber->transcribe(audio, config);
    connect(m_transcription.get(), &TranscriptionSession::eventReceived, this, &DictationController::handleTranscript);
    connect(m_transcription.get(), &TranscriptionSession::finished, this,
            &DictationController::onTranscriptionFinished);
    logger().info(QStringLiteral("dictation started with ") + TranscriptionProviders::rawValue(provider));
    return true;
}

void DictationController::onCaptureStarted(const QUuid& sessionID, std::optional<AudioCapture::CaptureError> error)
{
    if (m_sessionID != sessionID)
        return; // a late answer for an earlier dictation
    if (!error) {
        if (m_state == State::starting) {
            setState(State::listening);
            m_sounds.play(Sounds::Cue::start, m_settings.interactionSounds());
        }
        return;
    }
    const QString description = AudioCapture::description(*error);
    logger().error(QStringLiteral("microphone didn't open: ") + description);
    m_micFailure = QStringLiteral("Couldn't open the microphone: ") + description;
    stop();
}

void DictationController::onCaptureFailed(AudioCapture::CaptureError error)
{
    if (!isActive())
        return;
    const QString description = AudioCapture::description(error);
    logger().error(QStringLiteral("microphone failed: ") + description);
    m_micFailure = QStringLiteral("The microphone stopped: ") + description;
    stop();
}

void DictationController::handleTranscript(const TranscriptEvent& event)
{
    switch (event.kind) {
    case TranscriptEvent::Kind::interim:
        setInterim(event.text);
        return;
    case TranscriptEvent::Kind::final: {
        setCommitted(TextInserter::joinFragment(event.text, m_committed));
        setInterim(QString());
        if (m_settings.historyRetention() == HistoryRetention::never)
            return;
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.date = m_listeningSince.value_or(QDateTime::currentDateTimeUtc());
        entry.text = m_committed;
        entry.appName = m_target ? m_target->appName : std::nullopt;
        entry.status = HistoryEntry::Status::notInserted;
        m_checkpoint.save(entry);
        return;
    }
    case TranscriptEvent::Kind::language:
        if (m_language != event.text) {
            m_language = event.text;
            Q_EMIT languageChanged();
        }
        return;
    case TranscriptEvent::Kind::connected:
        setReconnecting(false);
        return;
    case TranscriptEvent::Kind::reconnecting:
        if (!m_isReconnecting)
            logger().info(QStringLiteral("connection dropped; reconnecting"));
        setReconnecting(true);
        return;
    }
}

void DictationController::onTranscriptionFinished(const std::optional<TranscriptionError>& error)
{
    dropTranscription();
    finish(error ? std::optional<QString>(error->description()) : std::nullopt);
}

// The session may be the sender of the signal being handled: it goes later,
// and nothing it still says reaches the controller.
void DictationController::dropTranscription()
{
    if (!m_transcription)
        return;
    m_transcription->disconnect(this);
    m_transcription.release()->deleteLater();
}

void DictationController::stop()
{
    if (!isActive())
        return;
    if (m_state == State::listening)
        m_sounds.play(Sounds::Cue::stop, m_settings.interactionSounds());
    endAudio();
    setState(State::finishing);
    m_flushTimer.start(m_options.timings.flushLimit);
}

void DictationController::cancel()
{
    if (m_state == State::idle)
        return;
    m_cancelled = true;
    endAudio();
    setState(State::finishing);
    if (m_transcription) {
        dropTranscription();
        finish(std::nullopt);
    }
}

void DictationController::endAudio()
{
    if (!m_stoppedAt)
        m_stoppedAt = QDateTime::currentDateTimeUtc();
    m_capture.setSink({});
    m_capture.setLevel({});
    m_capture.stop();
    if (m_audio) {
        m_audio->finish();
        m_audio.reset();
    }
    setLevel(0);
    m_hotkey.setCapturesEscape(false);
}

// --- Finishing ---------------------------------------------------------------

void DictationController::finish(const std::optional<QString>& failure)
{
    const std::optional<QString> problem = joined({m_micFailure, failure});
    m_micFailure.reset();
    if (isActive())
        endAudio();
    m_flushTimer.stop();
    dropTranscription();
    m_latched = false;
    m_checkpoint.clear();

    const QString text = TextInserter::joinFragment(m_interim, m_committed).trimmed();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (text.isEmpty()) {
        resetToIdle();
        if (problem)
            showNotice(*problem);
        return;
    }

    HistoryEntry entry;
    entry.id = QUuid::createUuid();
    entry.date = now;
    entry.text = text;
    entry.appName = m_target ? m_target->appName : std::nullopt;

    if (m_cancelled) {
        resetToIdle();
        entry.status = HistoryEntry::Status::cancelled;
        m_history.add(entry);
        m_history.prune(m_settings.historyRetention(), now);
        showNotice(QStringLiteral("Cancelled. The text is in History."));
        return;
    }

    if (m_listeningSince)
        m_usage.record(text, double(m_listeningSince->msecsTo(m_stoppedAt.value_or(now))) / 1000.0);

    entry.status = HistoryEntry::Status::notInserted;
    entry.note = problem;
    m_history.add(entry);

    const QString anthropicKey = m_settings.anthropicKey();
    if (m_settings.cleanupEnabled() && !anthropicKey.isEmpty()) {
        setPolishing(true);
        cleanUp(text, entry.id, problem);
        return;
    }
    resetToIdle();
    deliver(text, entry.id, problem);
}

void DictationController::cleanUp(const QString& text, const QUuid& entryID, const std::optional<QString>& problem)
{
    m_cleaner = std::make_unique<TextCleaner>(m_platform.network, m_settings.anthropicKey(), m_settings.cleanupModel(),
                                              m_settings.vocabulary(), m_options.cleanupEndpoint);
    connect(m_cleaner.get(), &TextCleaner::cleaned, this, [this, text, entryID, problem](const QString& cleaned) {
        m_cleaner.release()->deleteLater();
        if (cleaned != text)
            m_history.replaceText(entryID, cleaned);
        resetToIdle();
        deliver(cleaned, entryID, problem);
    });
    connect(m_cleaner.get(), &TextCleaner::failed, this,
            [this, text, entryID, problem](const TextCleaner::Failure& failure) {
                m_cleaner.release()->deleteLater();
                logger().error(QStringLiteral("cleanup failed: ") + TextCleaner::description(failure));
                const QString fallback =
                    TextCleaner::description(failure) + QStringLiteral(" Pasted the raw transcript.");
                resetToIdle();
                deliver(text, entryID, joined({problem, fallback}));
            });
    m_cleaner->clean(text);
}

void DictationController::resetToIdle()
{
    setCommitted(QString());
    setInterim(QString());
    setPolishing(false);
    setReconnecting(false);
    setState(State::idle);
}

void DictationController::deliver(const QString& text, const QUuid& entryID, const std::optional<QString>& problem)
{
    if (m_target) {
        const InsertOutcome outcome = m_inserter.insert(text, m_target->pid);
        switch (outcome.kind) {
        case InsertOutcome::Kind::pasted:
            m_history.setStatus(entryID, HistoryEntry::Status::pasted, problem);
            if (problem)
                showNotice(*problem);
            break;
        case InsertOutcome::Kind::frontmostChanged: {
            const QString reason = QStringLiteral("You switched to %1, so it wasn't pasted.")
                                       .arg(outcome.appName.value_or(QStringLiteral("another app")));
            m_history.setStatus(entryID, HistoryEntry::Status::notInserted, joined({problem, reason}));
            leaveOnClipboard(text, m_target->appName, reason);
            break;
        }
        case InsertOutcome::Kind::keyboardGrabbed: {
            const QString reason = QStringLiteral("Another program holds the keyboard, so it wasn't pasted.");
            m_history.setStatus(entryID, HistoryEntry::Status::notInserted, joined({problem, reason}));
            leaveOnClipboard(text, m_target->appName, reason);
            break;
        }
        case InsertOutcome::Kind::pasteFailed: {
            const QString reason = QStringLiteral("Pasting didn't work this time.");
            m_history.setStatus(entryID, HistoryEntry::Status::notInserted, joined({problem, reason}));
            leaveOnClipboard(text, m_target->appName, reason);
            break;
        }
        }
    } else {
        m_history.setStatus(entryID, HistoryEntry::Status::notInserted, problem);
        leaveOnClipboard(text, std::nullopt, QStringLiteral("There was no app to paste into."));
    }
    m_history.prune(m_settings.historyRetention(), QDateTime::currentDateTimeUtc());
    m_target.reset();
}

void DictationController::leaveOnClipboard(const QString& text, const std::optional<QString>& appName,
                                           const QString& reason)
{
    if (!m_platform.clipboard.setText(text, Clipboard::Visibility::normal))
        logger().error(QStringLiteral("Couldn't put the dictation on the clipboard"));
    m_unseenFailure = UnpastedDictation{text, appName, reason, QDateTime::currentDateTimeUtc()};
    Q_EMIT unseenFailureChanged();
    showNotice(QStringLiteral("On the clipboard. Press %1 to paste.").arg(m_options.words->pasteChord), reason, true);
}

void DictationController::showNotice(const QString& text, const std::optional<QString>& detail, bool onClipboard)
{
    logger().info(QStringLiteral("notice: ") + text + QLatin1Char(' ') + detail.value_or(QString()));
    m_notice = text;
    m_noticeDetail = detail;
    m_noticeOnClipboard = onClipboard;
    Q_EMIT noticeChanged();
    m_noticeTimer.start(onClipboard ? m_options.timings.clipboardNoticeTime : m_options.timings.noticeTime);
}
