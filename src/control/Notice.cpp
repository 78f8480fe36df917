#include "control/Notice.h"

#include "platform/PlatformVocabulary.h"
#include "storage/VellLog.h"

namespace {

QString refusalText(StartRefusal refusal, TranscriptionProvider provider, const PlatformVocabulary& words)
{
    switch (refusal) {
    case StartRefusal::keyboardGrabbed:
        return words.keyboardGrabWarning.arg(words.unknownProgram);
    case StartRefusal::passwordField:
        return words.passwordFieldNotice;
    case StartRefusal::missingKey:
        return QStringLiteral("Add your %1 API key in Vell Settings.").arg(TranscriptionProviders::title(provider));
    case StartRefusal::keyringLocked:
        return QStringLiteral("Your keyring is locked: unlock it in Vell Settings to use your %1 API key.")
            .arg(TranscriptionProviders::title(provider));
    case StartRefusal::needsConsent:
        return QStringLiteral("Allow Vell to send your voice for transcription.");
    case StartRefusal::offline:
        return QStringLiteral("No internet connection.");
    case StartRefusal::microphoneOff:
        return words.microphoneOffNotice;
    case StartRefusal::microphoneUndetermined:
        return QStringLiteral("Allow microphone access, then try again.");
    }
    return {};
}

// What the log says of a notice: its kind, never its words.
QString logLine(const NoticeMessage& message)
{
    static const char* const kKinds[] = {"start refused",   "cancelled",   "problems",      "on the clipboard",
                                         "in history only", "copy failed", "browser failed"};
    static const char* const kRefusals[] = {"keyboard grabbed", "password field",         "missing key",
                                            "keyring locked",   "needs consent",          "offline",
                                            "microphone off",   "microphone undetermined"};
    QString line = QStringLiteral("notice: ") + QLatin1String(kKinds[int(message.kind)]);
    if (message.kind == NoticeMessage::Kind::startRefused)
        line += QStringLiteral(" (%1)").arg(QLatin1String(kRefusals[int(message.refusal)]));
    for (const DictationProblem& problem : message.problems)
        line += QStringLiteral("; ") + DictationProblemText::kind(problem);
    return line;
}

} // namespace

Notice::Notice(const PlatformVocabulary& words, std::chrono::milliseconds showTime,
               std::chrono::milliseconds clipboardShowTime, QObject* parent)
    : QObject(parent), m_words(words), m_showTime(showTime), m_clipboardShowTime(clipboardShowTime)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Notice::clear);
}

std::optional<QString> Notice::text() const
{
    if (!m_message)
        return std::nullopt;
    return text(*m_message, m_words);
}

std::optional<QString> Notice::detail() const
{
    if (!m_message)
        return std::nullopt;
    return detail(*m_message);
}

void Notice::show(NoticeMessage message)
{
    VellLog::dictation().info(logLine(message));
    m_message = std::move(message);
    const bool aboutClipboard = isAboutClipboard();
    Q_EMIT changed();
    m_timer.start(aboutClipboard ? m_clipboardShowTime : m_showTime);
}

void Notice::clear()
{
    m_timer.stop();
    if (!m_message)
        return;
    m_message.reset();
    Q_EMIT changed();
}

QString Notice::text(const NoticeMessage& message, const PlatformVocabulary& words)
{
    switch (message.kind) {
    case NoticeMessage::Kind::startRefused:
        return refusalText(message.refusal, message.provider, words);
    case NoticeMessage::Kind::cancelled:
        return QStringLiteral("Cancelled. The text is in History.");
    case NoticeMessage::Kind::problems:
        return DictationProblemText::description(message.problems).value_or(QString());
    case NoticeMessage::Kind::onClipboard:
        return QStringLiteral("On the clipboard. Press %1 to paste.").arg(words.pasteChord);
    case NoticeMessage::Kind::inHistoryOnly:
        return QStringLiteral("Not pasted, and the clipboard couldn't take it. The text is in History.");
    case NoticeMessage::Kind::copyFailed:
        return QStringLiteral("Couldn't copy the dictation to the clipboard.");
    case NoticeMessage::Kind::browserFailed:
        return QStringLiteral("Couldn't open a web browser for the release page.");
    }
    return {};
}

std::optional<QString> Notice::detail(const NoticeMessage& message)
{
    switch (message.kind) {
    case NoticeMessage::Kind::onClipboard:
    case NoticeMessage::Kind::inHistoryOnly:
        return DictationProblemText::description(message.problems);
    case NoticeMessage::Kind::browserFailed:
        return message.address;
    default:
        return std::nullopt;
    }
}
