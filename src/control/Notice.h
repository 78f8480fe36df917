#pragma once

#include "control/DictationProblem.h"
#include "control/StartCheck.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

struct PlatformVocabulary;

// One thing the panel tells the user, as a value; Notice makes the words.
struct NoticeMessage
{
    enum class Kind {
        startRefused,  // `refusal`; `provider` is the service whose key is missing
        cancelled,     // the dictation was cancelled and kept in history
        problems,      // `problems`: what went wrong while the text was still delivered
        onClipboard,   // `problems`: why the text was left on the clipboard
        inHistoryOnly, // `problems`: why it was not pasted; the clipboard would not take it either
        copyFailed,    // a dictation could not be copied from the tray
        browserFailed, // `address` could not be opened in a browser
    };

    Kind kind = Kind::problems;
    StartRefusal refusal = StartRefusal::missingKey;
    TranscriptionProvider provider = TranscriptionProvider::mock;
    DictationProblems problems;
    QString address;

    static NoticeMessage startRefused(StartRefusal refusal, TranscriptionProvider provider)
    {
        return {Kind::startRefused, refusal, provider, {}, {}};
    }
    static NoticeMessage withProblems(DictationProblems problems) { return {Kind::problems, {}, {}, problems, {}}; }
    static NoticeMessage onClipboard(const PasteRefusal& why) { return {Kind::onClipboard, {}, {}, {why}, {}}; }
    static NoticeMessage inHistoryOnly(const PasteRefusal& why) { return {Kind::inHistoryOnly, {}, {}, {why}, {}}; }
    static NoticeMessage of(Kind kind) { return {kind, {}, {}, {}, {}}; }
    static NoticeMessage browserFailed(const QString& address) { return {Kind::browserFailed, {}, {}, {}, address}; }

    bool operator==(const NoticeMessage&) const = default;
};

// The notice the panel shows: at most one at a time, gone after a few
// seconds (longer when it is about the clipboard), replaced by the next one.
// Logs what kind of notice it shows, never its words. Main thread only;
// `changed` fires whenever the notice appears, changes or goes.
class Notice : public QObject
{
    Q_OBJECT

public:
    Notice(const PlatformVocabulary& words, std::chrono::milliseconds showTime,
           std::chrono::milliseconds clipboardShowTime, QObject* parent = nullptr);

    const std::optional<NoticeMessage>& message() const { return m_message; }
    // The headline; none while no notice shows.
    std::optional<QString> text() const;
    // The smaller line under the headline, if any.
    std::optional<QString> detail() const;
    // Notices about where the text went stay longer.
    bool isAboutClipboard() const
    {
        return m_message && (m_message->kind == NoticeMessage::Kind::onClipboard ||
                             m_message->kind == NoticeMessage::Kind::inHistoryOnly);
    }

    void show(NoticeMessage message);
    void clear();

    static QString text(const NoticeMessage& message, const PlatformVocabulary& words);
    static std::optional<QString> detail(const NoticeMessage& message);

Q_SIGNALS:
    void changed();

private:
    const PlatformVocabulary& m_words;
    std::chrono::milliseconds m_showTime;
    std::chrono::milliseconds m_clipboardShowTime;
    std::optional<NoticeMessage> m_message;
    QTimer m_timer;
};
