#include "control/DictationController.h"

#include "platform/Accessibility.h"
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

} // namespace

DictationController::DictationController(AppSettings& settings, DesktopSettings& desktopSettings, HistoryStore& history,
                                         const DictationPlatform& platform, DictationControllerOptions options,
                                         QObject* parent)
    : QObject(parent), m_settings(settings), m_desktopSettings(desktopSettings), m_history(history),
      m_platform(platform), m_options(std::move(options)),
      m_usage(m_options.dataFolder, UsageLog::Clock::system(), VellLog::usage(), nullptr, m_options.storedFileLoading),
      m_hotkey(platform.keyboardTap, platform.sessionEvents, m_options.hotkeyTimings),
      m_keyChecks(platform.network, platform.preferences), m_inputs(platform.audio), m_checkpoint(m_options.dataFolder),
      m_capture(platform.audio, m_options.captureTimings), m_sounds(platform.soundPlayer),
      m_inserter(platform.workspace, platform.clipboard, platform.accessibility, platform.keystrokes,
                 m_options.clipboardRestoreDelay, nullptr, platform.primarySelection),
      m_notice(*m_options.words, m_options.timings.noticeTime, m_options.timings.clipboardNoticeTime),
      m_keyboardGrab(platform.workspace, m_options.timings.keyboardGrabPoll)
{
    m_checkpoint.recover(m_history);
    m_history.prune(m_settings.historyRetention(), QDateTime::currentDateTimeUtc());
    // A dictation written while history was loading left its checkpoint behind.
    connect(&m_history, &HistoryStore::loadFinished, this, [this] {
        if (m_state == State::idle && !m_record && m_history.isSaved())
            m_checkpoint.clear();
    });
    // A shorter retention applies at once: "Don't keep" leaves nothing behind.
    connect(&m_settings, &AppSettings::historyRetentionChanged, this,
            [this](HistoryRetention retention) { m_history.prune(retention, QDateTime::currentDateTimeUtc()); });

    NetworkStatus::shared();

    m_desktopSettings.followLayout(platform.keyboardTap.typingModifiers());
    connect(&platform.keyboardTap, &KeyboardTap::layoutChanged, this,
            [this] { m_desktopSettings.followLayout(m_platform.keyboardTap.typingModifiers()); });
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

    m_recordTimer.setSingleShot(true);
    connect(&m_recordTimer, &QTimer::timeout, this, &DictationController::writeRecord);

    // The character before the caret is read once listening starts and again
    // while the service finishes: a service that answers before the second
    // read finds the first one there.
    m_caretTimer.setSingleShot(true);
    connect(&m_caretTimer, &QTimer::timeout, this, [this] {
        if ((m_state == State::listening || m_state == State::finishing) && m_target)
            m_inserter.readCaret(m_target->pid);
    });

    m_afterStopTimer.setSingleShot(true);
    connect(&m_afterStopTimer, &QTimer::timeout, this, &DictationController::finishStopping);

    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::finishing || !m_transcription)
            return;
        logger().info(QStringLiteral("transcriber still busy after the flush limit; finishing with the text so far"));
        dropTranscription();
        // An ending with nothing to show must still say why.
        const bool nothingCame = m_committed.trimmed().isEmpty() && m_interim.trimmed().isEmpty();
        finish(Ending::stopped, nothingCame
                                    ? std::optional<DictationProblem>(TranscriptionError::network(
                                          QStringLiteral("No text came back from the transcription service in time.")))
                                    : std::nullopt);
    });
}

DictationController::~DictationController()
{
    // The capture's thread must not call back into a half-destroyed controller.
    m_capture.setSink({});
    m_capture.setLevel({});
    m_capture.setFailure({});
    m_capture.setNote({});
    dropTranscription();
    writeRecord();
    keepUnfinishedText();
}

void DictationController::keepUnfinishedText()
{
    // Quitting mid-dictation keeps what is on screen, also the words not yet
    // final, which the checkpoint does not hold.
    const QString text = TextInserter::joinFragment(m_interim, m_committed).trimmed();
    if (m_state == State::idle || text.isEmpty() || m_settings.historyRetention() == HistoryRetention::never)
        return;
    HistoryEntry entry = entryFor(text, m_listeningSince.value_or(QDateTime::currentDateTimeUtc()));
    entry.note = QString(SessionCheckpoint::kRecoveryNote);
    m_history.add(entry);
    if (m_history.isSaved())
        m_checkpoint.clear();
    logger().info(QStringLiteral("quitting mid-dictation; kept %1 characters in history").arg(text.size()));
}

HistoryEntry DictationController::entryFor(const QString& text, const QDateTime& date) const
{
    return {.id = QUuid::createUuid(),
            .date = date,
            .text = text,
            .appName = m_target ? m_target->appName : std::nullopt,
            .status = HistoryEntry::Status::notInserted};
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

void DictationController::handle(HotkeyMonitor::Event event, EventSource source)
{
    const TriggerMode mode = m_desktopSettings.triggerMode();
    logger().debug(QStringLiteral("hotkey %1 state=%2 mode=%3")
                       .arg(caseName(event), stateName(m_state), TriggerModes::rawValue(mode)));

    switch (event) {
    case HotkeyMonitor::Event::pressed:
        if (source == EventSource::keyboard && m_desktopSettings.shortcut().isModifierOnly())
            keepModifierFromApp();
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

void DictationController::keepModifierFromApp()
{
    // Alt pressed and let go alone opens the menu bar of the application in
    // front (Firefox, LibreOffice), which would then take the paste; a blank
    // key in between makes it a chord. Nothing is posted to a keyboard grab.
    m_keyboardGrab.check();
    if (m_keyboardGrab.app())
        return;
    if (!m_platform.keystrokes.postBlankKey())
        logger().info(QStringLiteral("no blank key to post; a lone modifier may reach the app"));
}

void DictationController::onSleepOrLock()
{
    if (!isActive())
        return;
    logger().info(QStringLiteral("sleep or lock while listening; cancelling"));
    cancel();
}

void DictationController::refuse(StartRefusal refusal, TranscriptionProvider provider)
{
    if (refusal == StartRefusal::needsConsent)
        setWantsConsent(true);
    else if (refusal == StartRefusal::microphoneUndetermined)
        m_platform.microphone.request();
    m_notice.show(NoticeMessage::startRefused(refusal, provider));
    setOutcome(DictationOutcome::refused);
}

void DictationController::setOutcome(DictationOutcome outcome)
{
    m_lastOutcome = outcome;
    Q_EMIT dictationEnded(outcome);
}

// --- Starting and streaming --------------------------------------------------

bool DictationController::start()
{
    if (m_state != State::idle)
        return false;
    finishStopping(); // the last dictation's, before this one opens the microphone
    writeRecord();    // the last dictation's, before this one can change history

    const TranscriptionProvider provider = m_settings.provider();
    const QString key = m_settings.apiKey(provider);
    m_keyboardGrab.check(); // as it is now, not at the last look
    const std::optional<TextInserter::Target> target = m_inserter.captureTarget();
    const std::optional<StartRefusal> refusal = checkStart({
        .keyboardGrabbed = m_keyboardGrab.app().has_value(),
        .passwordField = target && m_platform.accessibility.isPasswordFieldFocused(target->pid),
        .provider = provider,
        .hasKey = !key.isEmpty(),
        .keyLocked = m_settings.isAPIKeyLocked(provider),
        .sharingAllowed = m_settings.aiSharingAllowed(),
        .online = NetworkStatus::shared().satisfied(),
        .microphone = m_platform.microphone.status(),
    });
    if (refusal) {
        refuse(*refusal, provider);
        return false;
    }

    m_target = target;
    m_inserter.prepare();
    // A desktop that asks before letting Vell paste asks now, while the user
    // talks, rather than when the text is ready.
    const KeystrokePoster::Access access = m_platform.keystrokes.access();
    if (access == KeystrokePoster::Access::notAsked || access == KeystrokePoster::Access::refused)
        m_platform.keystrokes.requestAccess();

    auto audio = std::make_shared<AudioStream>();
    auto handoff = std::make_shared<CaptureHandoff>(
        audio, [this](float level) { setLevel(level); },
        [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    // Once the audio ended, what still waited is no longer shown.
                    if (m_handoff)
                        m_handoff->deliver();
                },
                Qt::QueuedConnection);
        });
    m_capture.setSink([handoff](QByteArray chunk) { handoff->add(chunk); });
    m_capture.setLevel([handoff](float level) { handoff->addLevel(level); });

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
    m_handoff = handoff;

    setCommitted(QString());
    setInterim(QString());
    if (m_language) {
        m_language.reset();
        Q_EMIT languageChanged();
    }
    m_notice.clear();
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
            this, [this, provider] { finish(Ending::stopped, TranscriberMissing{provider}); }, Qt::QueuedConnection);
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
            prepareCheckpoint();
            m_sounds.play(Sounds::Cue::start, m_settings.interactionSounds());
            if (m_target)
                m_caretTimer.start(0);
        }
        return;
    }
    m_micFailure = MicrophoneFailure{*error, false};
    logger().error(DictationProblemText::description(*m_micFailure));
    stop();
}

void DictationController::onCaptureFailed(AudioCapture::CaptureError error)
{
    if (!isActive())
        return;
    m_micFailure = MicrophoneFailure{error, true};
    logger().error(DictationProblemText::description(*m_micFailure));
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
        m_checkpoint.save(entryFor(m_committed, m_listeningSince.value_or(QDateTime::currentDateTimeUtc())));
        prepareCheckpoint();
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

// Made while the user talks: once the audio has ended, the last save is on
// the way to the paste.
void DictationController::prepareCheckpoint()
{
    if (m_state == State::listening && m_settings.historyRetention() != HistoryRetention::never)
        m_checkpoint.prepare();
}

void DictationController::onTranscriptionFinished(const std::optional<TranscriptionError>& error)
{
    dropTranscription();
    finish(Ending::stopped, error ? std::optional<DictationProblem>(*error) : std::nullopt);
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
    m_stopCuePending = m_state == State::listening;
    // Asked while the service finishes, not once the text is ready: the
    // desktop before the end of the audio goes out, as its answer takes
    // longest, and the keys held after it.
    if (m_target)
        m_inserter.checkAhead();
    endAudio();
    if (m_target)
        m_inserter.checkKeysAhead();
    setState(State::finishing);
    m_flushTimer.start(m_options.timings.flushLimit);
    if (m_target)
        m_caretTimer.start(m_options.timings.caretDelay);
}

void DictationController::cancel()
{
    if (m_state == State::idle)
        return;
    endAudio();
    setState(State::finishing);
    if (m_transcription) {
        dropTranscription();
        finish(Ending::cancelled);
    }
}

void DictationController::endAudio()
{
    if (!m_stoppedAt)
        m_stoppedAt = QDateTime::currentDateTimeUtc();
    m_capture.setSink({});
    m_capture.setLevel({});
    if (m_handoff) {
        m_handoff->flush();
        m_handoff.reset();
    }
    if (m_audio) {
        m_audio->finish();
        m_audio.reset();
    }
    // No chunk reaches the stream any more; closing the microphone can wait.
    m_captureStopPending = true;
    m_afterStopTimer.start(m_options.timings.afterStopDelay);
    setLevel(0);
    m_hotkey.setCapturesEscape(false);
}

void DictationController::finishStopping()
{
    m_afterStopTimer.stop();
    if (std::exchange(m_captureStopPending, false))
        m_capture.stop();
    if (std::exchange(m_stopCuePending, false))
        m_sounds.play(Sounds::Cue::stop, m_settings.interactionSounds());
}

// --- Finishing ---------------------------------------------------------------

void DictationController::finish(Ending ending, const std::optional<DictationProblem>& failure)
{
    DictationProblems problems;
    if (m_micFailure)
        problems << *m_micFailure;
    if (failure)
        problems << *failure;
    m_micFailure.reset();
    if (isActive())
        endAudio();
    // Whatever comes next (cleanup, the paste) happens with the microphone off.
    setReconnecting(false);
    if (m_state != State::idle)
        setState(State::finishing);
    m_flushTimer.stop();
    dropTranscription();
    m_latched = false;

    const QString text = TextInserter::joinFragment(m_interim, m_committed).trimmed();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (text.isEmpty()) {
        m_checkpoint.clear();
        resetToIdle();
        if (!problems.isEmpty())
            m_notice.show(NoticeMessage::withProblems(problems));
        setOutcome(ending == Ending::cancelled ? DictationOutcome::cancelled : DictationOutcome::nothingHeard);
        return;
    }

    if (ending == Ending::cancelled) {
        resetToIdle();
        HistoryEntry entry = entryFor(text, now);
        entry.status = HistoryEntry::Status::cancelled;
        m_history.add(entry);
        if (m_history.isSaved())
            m_checkpoint.clear();
        m_history.prune(m_settings.historyRetention(), now);
        m_notice.show(NoticeMessage::of(NoticeMessage::Kind::cancelled));
        setOutcome(DictationOutcome::cancelled);
        return;
    }

    Record record{entryFor(text, now), false, std::nullopt, std::nullopt};
    record.entry.note = DictationProblemText::description(problems);
    if (m_listeningSince)
        record.seconds = double(m_listeningSince->msecsTo(m_stoppedAt.value_or(now))) / 1000.0;

    const QString anthropicKey = m_settings.anthropicKey();
    if (m_settings.cleanupEnabled() && !anthropicKey.isEmpty()) {
        setPolishing(true);
        // The request goes out first; the saves happen while it is answered.
        cleanUp(text, record, problems);
        m_usage.record(text, record.seconds.value_or(0));
        m_history.add(record.entry);
        return;
    }
    resetToIdle();
    deliver(text, record, problems);
}

void DictationController::cleanUp(const QString& text, Record record, const DictationProblems& problems)
{
    record.inHistory = true;
    record.seconds.reset();
    m_cleaner = std::make_unique<TextCleaner>(m_platform.network, m_settings.anthropicKey(), m_settings.cleanupModel(),
                                              m_settings.vocabulary(), m_options.cleanupEndpoint);
    connect(m_cleaner.get(), &TextCleaner::cleaned, this, [this, text, record, problems](const QString& cleaned) {
        m_cleaner.release()->deleteLater();
        Record delivered = record;
        if (cleaned != text)
            delivered.cleaned = cleaned;
        resetToIdle();
        deliver(cleaned, delivered, problems);
    });
    connect(m_cleaner.get(), &TextCleaner::failed, this,
            [this, text, record, problems](const TextCleaner::Failure& failure) {
                m_cleaner.release()->deleteLater();
                const CleanupFailure fallback{failure};
                logger().error(DictationProblemText::kind(fallback));
                resetToIdle();
                deliver(text, record, problems + DictationProblems{fallback});
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

void DictationController::deliver(const QString& text, Record record, const DictationProblems& problems)
{
    // Not read yet: the paste asks for itself where it matters.
    m_caretTimer.stop();
    HistoryEntry& entry = record.entry;
    if (!m_target) {
        leaveOnClipboard(text, entry, problems, {PasteRefusal::Reason::noTarget, std::nullopt});
    } else {
        const InsertOutcome outcome = m_inserter.insert(text, m_target->pid);
        switch (outcome.kind) {
        case InsertOutcome::Kind::pasted:
            entry.status = HistoryEntry::Status::pasted;
            entry.note = DictationProblemText::description(problems);
            if (!problems.isEmpty())
                m_notice.show(NoticeMessage::withProblems(problems));
            setOutcome(DictationOutcome::pasted);
            break;
        case InsertOutcome::Kind::frontmostChanged:
            leaveOnClipboard(text, entry, problems, {PasteRefusal::Reason::switchedApp, outcome.appName});
            break;
        case InsertOutcome::Kind::keyboardGrabbed:
            leaveOnClipboard(text, entry, problems, {PasteRefusal::Reason::keyboardGrabbed, std::nullopt});
            break;
        case InsertOutcome::Kind::pasteFailed:
            leaveOnClipboard(text, entry, problems, {PasteRefusal::Reason::pasteFailed, std::nullopt});
            break;
        case InsertOutcome::Kind::pasteNotAllowed:
            leaveOnClipboard(text, entry, problems, {PasteRefusal::Reason::notAllowed, std::nullopt});
            break;
        }
    }
    m_target.reset();
    m_record = std::move(record);
    m_recordTimer.start(m_options.timings.recordDelay);
}

void DictationController::writeRecord()
{
    m_recordTimer.stop();
    if (!m_record)
        return;
    const Record record = std::move(*m_record);
    m_record.reset();
    const HistoryEntry& entry = record.entry;
    if (record.seconds)
        m_usage.record(entry.text, *record.seconds);
    if (record.inHistory) {
        if (record.cleaned)
            m_history.replaceText(entry.id, *record.cleaned);
        m_history.setStatus(entry.id, entry.status, entry.note);
    } else {
        HistoryEntry written = entry;
        if (record.cleaned) {
            written.rawText = written.text;
            written.text = *record.cleaned;
        }
        m_history.add(written);
    }
    // Until history holds the dictation, the checkpoint stands in for it.
    if (m_history.isSaved())
        m_checkpoint.clear();
    m_history.prune(m_settings.historyRetention(), QDateTime::currentDateTimeUtc());
    // Told once, where nothing else is being said; the entry's own note is only about the dictation.
    const DictationProblems untold = m_storedFiles.untold();
    if (!untold.isEmpty() && !m_notice.message())
        m_notice.show(NoticeMessage::withProblems(untold));
}

void DictationController::leaveOnClipboard(const QString& text, HistoryEntry& entry, DictationProblems problems,
                                           const PasteRefusal& why)
{
    // With no target there was never a paste to refuse; the reason shows only on the card.
    if (why.reason != PasteRefusal::Reason::noTarget)
        problems << why;
    entry.status = HistoryEntry::Status::notInserted;
    entry.note = DictationProblemText::description(problems);
    const bool onClipboard = m_platform.clipboard.setText(text, Clipboard::Visibility::normal);
    if (!onClipboard)
        logger().error(QStringLiteral("Couldn't put the dictation on the clipboard"));
    const std::optional<QString> appName = m_target ? m_target->appName : std::nullopt;
    m_unseenFailure =
        UnpastedDictation{text, appName, DictationProblemText::description(why), QDateTime::currentDateTimeUtc()};
    Q_EMIT unseenFailureChanged();
    m_notice.show(onClipboard ? NoticeMessage::onClipboard(why) : NoticeMessage::inHistoryOnly(why));
    setOutcome(onClipboard ? DictationOutcome::onClipboard : DictationOutcome::inHistoryOnly);
}
