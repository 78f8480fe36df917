#include "transcription/ResilientTranscriber.h"

#include "storage/VellLog.h"
#include "transcription/AudioRelay.h"
#include "transcription/AudioStream.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

QString kindOf(const ResilientTranscriber::AttemptFailure& failure)
{
    const auto* error = std::get_if<TranscriptionError>(&failure);
    return error ? error->kindName() : QStringLiteral("no connection within the time limit");
}

bool isProviderError(const ResilientTranscriber::AttemptFailure& failure)
{
    const auto* error = std::get_if<TranscriptionError>(&failure);
    return error && error->kind == TranscriptionError::Kind::provider;
}

class ResilientSession final : public TranscriptionSession
{
public:
    ResilientSession(std::shared_ptr<StreamingTranscriber> base, QString providerName,
                     ResilientTranscriberTimings timings, const VellLog& log, std::shared_ptr<AudioStream> audio,
                     TranscriberConfig config)
        : m_base(std::move(base)), m_providerName(std::move(providerName)), m_timings(std::move(timings)), m_log(log),
          m_audio(std::move(audio)), m_config(std::move(config))
    {
        m_watchdog.setSingleShot(true);
        m_watchdog.setTimerType(Qt::PreciseTimer);
        connect(&m_watchdog, &QTimer::timeout, this, &ResilientSession::onConnectTimeout);
        m_backoff.setSingleShot(true);
        m_backoff.setTimerType(Qt::PreciseTimer);
        connect(&m_backoff, &QTimer::timeout, this, &ResilientSession::startAttempt);

        startAttempt();
        connect(m_audio.get(), &AudioStream::readyRead, this, &ResilientSession::pumpAudio);
        pumpAudio();
    }

private:
    // What one attempt has shown so far.
    struct Attempt
    {
        bool connected = false;
        bool heardSpeech = false;
        QString interim;
    };

    void pumpAudio()
    {
        for (QByteArray& chunk : m_audio->takeAll())
            m_relay.push(std::move(chunk));
        if (m_audio->atEnd() && !m_relay.isFinished())
            m_relay.markFinished();
    }

    void startAttempt()
    {
        m_attempt = {};
        m_session = m_base->transcribe(m_relay.makeStream(), m_config);
        connect(m_session.get(), &TranscriptionSession::eventReceived, this, &ResilientSession::onAttemptEvent);
        connect(m_session.get(), &TranscriptionSession::finished, this, &ResilientSession::onAttemptFinished);
        m_watchdog.start(m_timings.connectTimeout);
    }

    void onAttemptEvent(const TranscriptEvent& event)
    {
        const bool showsText = !event.text.trimmed().isEmpty();
        switch (event.kind) {
        case TranscriptEvent::Kind::interim:
            m_attempt.interim = event.text;
            if (showsText)
                m_relay.confirm();
            break;
        case TranscriptEvent::Kind::final:
            m_attempt.interim.clear();
            // An empty segment achieves nothing and must not buy more retries.
            if (showsText) {
                m_attempt.heardSpeech = true;
                m_relay.confirm();
            }
            break;
        case TranscriptEvent::Kind::connected:
            m_attempt.connected = true;
            m_watchdog.stop();
            break;
        case TranscriptEvent::Kind::language:
        case TranscriptEvent::Kind::reconnecting:
            break;
        }
        Q_EMIT eventReceived(event);
    }

    void onAttemptFinished(const std::optional<TranscriptionError>& error)
    {
        // Inside the attempt's own signal: it goes later.
        m_session->disconnect(this);
        m_session.release()->deleteLater();
        if (!error && m_relay.isFinished() && m_attempt.connected) {
            end(std::nullopt);
            return;
        }
        // Ending while the microphone still runs, or before ever connecting, is
        // a drop, whatever the service called it: audio would go untranscribed.
        failAttempt(error.value_or(TranscriptionError::connectionLost()));
    }

    void onConnectTimeout()
    {
        if (m_attempt.connected)
            return;
        m_session.reset();
        failAttempt(ResilientTranscriber::ConnectTimeout{});
    }

    void failAttempt(const ResilientTranscriber::AttemptFailure& failure)
    {
        m_watchdog.stop();
        m_relay.detach();
        const Attempt attempt = std::exchange(m_attempt, {});

        const QPointer<ResilientSession> self(this);
        if (!attempt.interim.trimmed().isEmpty()) {
            Q_EMIT eventReceived(TranscriptEvent::finalText(attempt.interim));
            if (!self)
                return;
            Q_EMIT eventReceived(TranscriptEvent::interim(QString()));
            if (!self)
                return;
        }

        const bool wasConnected = attempt.connected || m_reconnecting;
        const qsizetype index = attempt.heardSpeech ? 0 : m_failures;
        if (!wasConnected || isProviderError(failure) || index >= qsizetype(m_timings.backoff.size())) {
            end(ResilientTranscriber::giveUpError(failure, wasConnected, m_providerName));
            return;
        }

        // The kind only: a service's own text may quote what was said.
        m_log.info(m_providerName + QStringLiteral(" connection lost (") + kindOf(failure) +
                   QStringLiteral("); reconnecting, attempt ") + QString::number(index + 1));
        m_failures = index + 1;
        m_reconnecting = true;
        m_backoff.start(m_timings.backoff[size_t(index)]);
        Q_EMIT eventReceived(TranscriptEvent::reconnecting());
    }

    void end(const std::optional<TranscriptionError>& error)
    {
        m_watchdog.stop();
        m_backoff.stop();
        m_session.reset();
        m_relay.markFinished();
        disconnect(m_audio.get(), nullptr, this, nullptr);
        Q_EMIT finished(error);
    }

    const std::shared_ptr<StreamingTranscriber> m_base;
    const QString m_providerName;
    const ResilientTranscriberTimings m_timings;
    const VellLog& m_log;
    const std::shared_ptr<AudioStream> m_audio;
    const TranscriberConfig m_config;

    AudioRelay m_relay;
    QTimer m_watchdog;
    QTimer m_backoff;
    Attempt m_attempt;
    std::unique_ptr<TranscriptionSession> m_session;
    qsizetype m_failures = 0;
    bool m_reconnecting = false;
};

} // namespace

ResilientTranscriber::ResilientTranscriber(std::shared_ptr<StreamingTranscriber> base, QString providerName,
                                           Timings timings, const VellLog* log)
    : m_base(std::move(base)), m_providerName(std::move(providerName)), m_timings(std::move(timings)),
      m_log(log ? *log : VellLog::network())
{}

TranscriptionError ResilientTranscriber::giveUpError(const AttemptFailure& failure, bool wasConnected,
                                                     const QString& providerName)
{
    if (std::holds_alternative<ConnectTimeout>(failure))
        return TranscriptionError::network(
            QStringLiteral("Couldn't reach ") + providerName +
            QStringLiteral(". Check that this network has a working internet connection."));
    const TranscriptionError& error = std::get<TranscriptionError>(failure);
    if (error.kind == TranscriptionError::Kind::provider)
        return error;
    if (wasConnected)
        return TranscriptionError::network(QStringLiteral("Lost the connection to ") + providerName +
                                           QStringLiteral(". What you said after it dropped wasn't transcribed."));
    return TranscriptionError::network(QStringLiteral("Couldn't connect to ") + providerName + QStringLiteral(": ") +
                                       error.description());
}

std::unique_ptr<TranscriptionSession> ResilientTranscriber::transcribe(std::shared_ptr<AudioStream> audio,
                                                                       const TranscriberConfig& config)
{
    return std::make_unique<ResilientSession>(m_base, m_providerName, m_timings, m_log, std::move(audio), config);
}
