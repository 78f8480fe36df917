#pragma once

#include "audio/AudioCapture.h"
#include "audio/AudioInputList.h"
#include "audio/Sounds.h"
#include "control/CaptureHandoff.h"
#include "control/DictationState.h"
#include "control/KeyboardGrabWatch.h"
#include "control/Notice.h"
#include "control/SessionCheckpoint.h"
#include "control/StoredFilesWatch.h"
#include "platform/PlatformVocabulary.h"
#include "shortcut/HotkeyMonitor.h"
#include "storage/HistoryStore.h"
#include "storage/KeyChecks.h"
#include "storage/UsageLog.h"
#include "text/TextCleaner.h"
#include "text/TextInserter.h"
#include "transcription/StreamingTranscriber.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Accessibility;
class AppSettings;
class AudioBackend;
class AudioStream;
class Clipboard;
class DesktopSettings;
class KeyboardTap;
class KeystrokePoster;
class MicrophonePermission;
class QNetworkAccessManager;
class QSettings;
class SessionEvents;
class SoundPlayer;
class Workspace;

struct DictationControllerTimings
{
    std::chrono::milliseconds armDelay{150};             // before a modifier-only press starts a dictation
    std::chrono::milliseconds holdThreshold{350};        // a press at least this long is a hold, not a tap
    std::chrono::milliseconds flushLimit{4000};          // after stop, for the transcriber's last text
    std::chrono::milliseconds noticeTime{4000};          // how long a notice stays
    std::chrono::milliseconds clipboardNoticeTime{8000}; // how long a notice about the clipboard stays
    std::chrono::milliseconds keyboardGrabPoll{2000};    // between checks for a keyboard grab
    // After the paste, before its history and usage are written: the target
    // fetches the text from the clipboard meanwhile, unhindered by the disk.
    std::chrono::milliseconds recordDelay{150};
    // After stop, before the character before the caret is asked for: the
    // question blocks, and the end of the audio must reach the service first.
    std::chrono::milliseconds caretDelay{5};
    // After stop, before the stop cue plays and the microphone closes: both
    // wake the sound server, which then competes with the paste of a service
    // that answers at once. Sound takes longer to be heard.
    std::chrono::milliseconds afterStopDelay{10};
};

// The platform services the controller reaches the desktop through; all must
// outlive it.
struct DictationPlatform
{
    KeyboardTap& keyboardTap;
    SessionEvents& sessionEvents;
    AudioBackend& audio;
    Workspace& workspace;
    Clipboard& clipboard;
    Accessibility& accessibility;
    KeystrokePoster& keystrokes;
    SoundPlayer& soundPlayer;
    MicrophonePermission& microphone;
    QNetworkAccessManager& network;
    QSettings& preferences;
    Clipboard* primarySelection = nullptr; // where the desktop has one: what xterm pastes
};

// What tests replace; the defaults are the real thing.
struct DictationControllerOptions
{
    DictationControllerTimings timings;
    HotkeyMonitorTimings hotkeyTimings;
    AudioCaptureTimings captureTimings;
    std::chrono::milliseconds clipboardRestoreDelay = TextInserter::kRestoreDelay;
    std::function<std::unique_ptr<StreamingTranscriber>(TranscriptionProvider)> makeTranscriber = ::makeTranscriber;
    QUrl cleanupEndpoint = TextCleaner::endpointFromEnvironment();
    QString dataFolder = PrivateFiles::dataFolder();
    // The app loads history and usage off its start-up path.
    StoredFileLoading storedFileLoading = StoredFileLoading::now;
    const PlatformVocabulary* words = &PlatformVocabulary::native();
};

// Runs dictation: turns the shortcut into dictations and carries each one from
// the press to the pasted text. It owns the stores and devices, publishes the
// state the tray and the panel show, and reports every problem through one
// notice. Main thread only; observable fields signal only real changes.
//
// A dictation: start() runs the start checks, captures the target window and
// opens the microphone and the transcriber (starting, then listening); stop()
// ends the audio and waits up to the flush limit for the last text
// (finishing); finish() stores the text, has it cleaned up when asked and
// delivers it: pasted, or left on the clipboard with the reason.
class DictationController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DictationState state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString committed READ committed NOTIFY committedChanged)
    Q_PROPERTY(QString interim READ interim NOTIFY interimChanged)
    Q_PROPERTY(float level READ level NOTIFY levelChanged)
    Q_PROPERTY(int levelStep READ levelStep NOTIFY levelStepChanged)
    Q_PROPERTY(bool wantsConsent READ wantsConsent WRITE setWantsConsent NOTIFY wantsConsentChanged)
    Q_PROPERTY(bool isPolishing READ isPolishing NOTIFY isPolishingChanged)
    Q_PROPERTY(bool isReconnecting READ isReconnecting NOTIFY isReconnectingChanged)

public:
    using State = DictationState;
    using Timings = DictationControllerTimings;

    DictationController(AppSettings& settings, DesktopSettings& desktopSettings, HistoryStore& history,
                        const DictationPlatform& platform, DictationControllerOptions options = {},
                        QObject* parent = nullptr);
    ~DictationController() override;

    State state() const { return m_state; }
    const QString& committed() const { return m_committed; }
    const QString& interim() const { return m_interim; }
    const std::optional<QString>& language() const { return m_language; }
    float level() const { return m_level; }
    int levelStep() const { return m_levelStep; }
    Notice& notice() { return m_notice; }
    const Notice& notice() const { return m_notice; }
    const std::optional<UnpastedDictation>& unseenFailure() const { return m_unseenFailure; }
    void clearUnseenFailure();
    bool wantsConsent() const { return m_wantsConsent; }
    void setWantsConsent(bool wants);
    bool isPolishing() const { return m_isPolishing; }
    bool isReconnecting() const { return m_isReconnecting; }
    const KeyboardGrabWatch& keyboardGrab() const { return m_keyboardGrab; }
    const std::optional<QString>& micNote() const { return m_micNote; }
    bool escapeCancels() const { return m_hotkey.escapeCancels(); }
    // The desktop's dialog asking whether Vell may paste is up.
    bool isAskingToPaste() const { return m_platform.keystrokes.access() == KeystrokePoster::Access::asking; }
    // A delivered dictation waits to be written to history and usage.
    bool hasUnwrittenDictation() const { return m_record.has_value(); }
    // How the last dictation ended; none before the first.
    const std::optional<DictationOutcome>& lastOutcome() const { return m_lastOutcome; }

    AppSettings& settings() { return m_settings; }
    DesktopSettings& desktopSettings() { return m_desktopSettings; }
    HistoryStore& history() { return m_history; }
    UsageLog& usage() { return m_usage; }
    // What is wrong with the history and statistics files.
    const StoredFilesWatch& storedFiles() const { return m_storedFiles; }
    HotkeyMonitor& hotkey() { return m_hotkey; }
    KeyChecks& keyChecks() { return m_keyChecks; }
    AudioInputList& inputs() { return m_inputs; }

    // Where a shortcut event comes from: Vell's own keyboard tap, or a
    // command (a desktop or compositor binding), where no key of Vell's is down.
    enum class EventSource { keyboard, command };
    // The shortcut's events, from the hotkey monitor or a command.
    void handle(HotkeyMonitor::Event event, EventSource source = EventSource::keyboard);
    // Starts a dictation; false (with a notice) when it cannot.
    bool start();
    // Ends the audio and lets the transcriber deliver its last text.
    void stop();
    // Ends the dictation without pasting; its text goes to history.
    void cancel();

Q_SIGNALS:
    void stateChanged();
    void committedChanged();
    void interimChanged();
    void languageChanged();
    void levelChanged();
    void levelStepChanged();
    void unseenFailureChanged();
    void wantsConsentChanged();
    void isPolishingChanged();
    void isReconnectingChanged();
    void micNoteChanged();
    // Every time a dictation ends or a start is refused.
    void dictationEnded(DictationOutcome outcome);

private:
    // How a dictation's listening ended.
    enum class Ending { stopped, cancelled };

    bool isActive() const { return m_state == State::starting || m_state == State::listening; }
    void setState(State state);
    void setCommitted(const QString& text);
    void setInterim(const QString& text);
    void setLevel(float level);
    void setPolishing(bool polishing);
    void setReconnecting(bool reconnecting);

    void onCaptureStarted(const QUuid& sessionID, std::optional<AudioCapture::CaptureError> error);
    void onCaptureFailed(AudioCapture::CaptureError error);
    void keepModifierFromApp();
    void setOutcome(DictationOutcome outcome);
    void keepUnfinishedText();
    // A new, not yet pasted entry for this dictation's text.
    HistoryEntry entryFor(const QString& text, const QDateTime& date) const;
    void onSleepOrLock();
    void refuse(StartRefusal refusal, TranscriptionProvider provider);

    void handleTranscript(const TranscriptEvent& event);
    void onTranscriptionFinished(const std::optional<TranscriptionError>& error);
    void prepareCheckpoint();
    void dropTranscription();
    void endAudio();
    // What endAudio() and stop() left for later, done now.
    void finishStopping();
    void finish(Ending ending, const std::optional<DictationProblem>& failure = std::nullopt);
    // What a dictation leaves to be written once its text is delivered.
    struct Record
    {
        HistoryEntry entry;
        bool inHistory = false;         // added already, while the cleanup was waited for
        std::optional<QString> cleaned; // replaces the entry's text, keeping the raw one
        std::optional<double> seconds;  // of listening, for the usage log; none when recorded already
    };

    void cleanUp(const QString& text, Record record, const DictationProblems& problems);
    void resetToIdle();
    void deliver(const QString& text, Record record, const DictationProblems& problems);
    void leaveOnClipboard(const QString& text, HistoryEntry& entry, DictationProblems problems,
                          const PasteRefusal& why);
    // Writes the delivered dictation to history and usage, and only then lets
    // the checkpoint go, which covers the time in between.
    void writeRecord();

    AppSettings& m_settings;
    DesktopSettings& m_desktopSettings;
    HistoryStore& m_history;
    DictationPlatform m_platform;
    DictationControllerOptions m_options;

    UsageLog m_usage;
    StoredFilesWatch m_storedFiles{m_history, m_usage};
    HotkeyMonitor m_hotkey;
    KeyChecks m_keyChecks;
    AudioInputList m_inputs;
    SessionCheckpoint m_checkpoint;
    AudioCapture m_capture;
    Sounds m_sounds;
    TextInserter m_inserter;
    Notice m_notice;
    KeyboardGrabWatch m_keyboardGrab;

    State m_state = State::idle;
    QString m_committed;
    QString m_interim;
    std::optional<QString> m_language;
    float m_level = 0;
    int m_levelStep = 0;
    std::optional<UnpastedDictation> m_unseenFailure;
    bool m_wantsConsent = false;
    bool m_isPolishing = false;
    bool m_isReconnecting = false;
    std::optional<QString> m_micNote;
    std::optional<DictationOutcome> m_lastOutcome;

    std::shared_ptr<AudioStream> m_audio;
    std::shared_ptr<CaptureHandoff> m_handoff;
    std::unique_ptr<TranscriptionSession> m_transcription;
    std::unique_ptr<TextCleaner> m_cleaner;
    QTimer m_flushTimer;
    QTimer m_recordTimer;
    QTimer m_caretTimer;
    QTimer m_afterStopTimer;
    bool m_captureStopPending = false;
    bool m_stopCuePending = false;
    std::optional<Record> m_record;
    QTimer m_armTimer;
    std::optional<TextInserter::Target> m_target;
    std::optional<QDateTime> m_listeningSince;
    std::optional<QDateTime> m_stoppedAt;
    std::optional<QElapsedTimer> m_pressedAt;
    bool m_latched = false;
    bool m_pressStartedSession = false;
    std::optional<MicrophoneFailure> m_micFailure;
    std::optional<QUuid> m_sessionID;
};
