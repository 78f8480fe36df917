#include "transcription/AssemblyAITranscriber.h"

#include "transcription/StreamingClientSession.h"
#include "transcription/StreamingEndpoint.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace {

const QString kPath = QStringLiteral("/v3/ws");
constexpr int kMaxKeyterms = 100;
constexpr QByteArrayView kFixedQuery{"speech_model=universal-3-6-pro&encoding=pcm_s16le&sample_rate=16000"
                                     "&language_detection=true"};

QByteArray query(const QStringList& vocabulary)
{
    QByteArray query = kFixedQuery.toByteArray();
    if (vocabulary.isEmpty())
        return query;
    const QJsonArray terms = QJsonArray::fromStringList(vocabulary.mid(0, kMaxKeyterms));
    // Every byte but the unreserved ones is escaped: a bare '+' would reach the service as a space.
    return query + "&keyterms_prompt=" + QJsonDocument(terms).toJson(QJsonDocument::Compact).toPercentEncoding();
}

QString stringOr(const QJsonValue& value, const QString& fallback = {})
{
    return value.isString() ? value.toString() : fallback;
}

QList<TranscriptEvent> turnEvents(const QJsonObject& turn)
{
    const QString transcript = stringOr(turn.value(QLatin1String("transcript")));
    const QJsonValue endOfTurn = turn.value(QLatin1String("end_of_turn"));
    if (endOfTurn.isBool() && endOfTurn.toBool()) {
        QList<TranscriptEvent> events;
        const QJsonValue language = turn.value(QLatin1String("language_code"));
        if (language.isString())
            events.append(TranscriptEvent::language(language.toString()));
        events.append(TranscriptEvent::finalText(transcript));
        events.append(TranscriptEvent::interim(QString()));
        return events;
    }
    // The live text comes from the word list, which also holds the words not yet final.
    QStringList words;
    const QJsonValue wordList = turn.value(QLatin1String("words"));
    if (wordList.isArray()) {
        for (const QJsonValue& word : wordList.toArray()) {
            if (!word.isObject()) {
                words.clear();
                break;
            }
            const QJsonValue text = word.toObject().value(QLatin1String("text"));
            if (text.isString())
                words.append(text.toString());
        }
    }
    return {TranscriptEvent::interim(words.isEmpty() ? transcript : words.join(QLatin1Char(' ')))};
}

class AssemblyAISession final : public StreamingClientSession
{
public:
    AssemblyAISession(std::shared_ptr<AudioStream> audio, const TranscriberConfig& config, const QUrl& endpoint,
                      WebSocketSessionTimings timings)
        : StreamingClientSession(std::move(audio),
                                 StreamingEndpoint::request(endpoint, kPath, query(config.vocabulary), config.apiKey),
                                 timings),
          m_language(config.language)
    {}

private:
    void onMessage(const QJsonObject& message) override
    {
        const QString type = stringOr(message.value(QLatin1String("type")));
        if (type == QLatin1String("Begin")) {
            if (!emitEvents({TranscriptEvent::connected()}))
                return;
            if (m_language)
                sendJSON({{QStringLiteral("type"), QStringLiteral("UpdateConfiguration")},
                          {QStringLiteral("language_codes"), QJsonArray{*m_language}}});
        } else if (type == QLatin1String("Turn")) {
            emitEvents(turnEvents(message));
        } else if (type == QLatin1String("Termination")) {
            end();
        } else if (type == QLatin1String("Error")) {
            finish(TranscriptionError::provider(
                stringOr(message.value(QLatin1String("error")), QStringLiteral("AssemblyAI error"))));
        } else if (const QJsonValue error = message.value(QLatin1String("error")); error.isString()) {
            finish(TranscriptionError::provider(error.toString()));
        }
    }

    void sendEndOfAudio() override
    {
        if (sendJSON({{QStringLiteral("type"), QStringLiteral("ForceEndpoint")}}))
            sendJSON({{QStringLiteral("type"), QStringLiteral("Terminate")}});
    }

    void onSocketEnded(const std::optional<TranscriptionError>& error) override
    {
        if (error)
            finish(error);
        else
            end();
    }

    // The service ended the session. Before the audio did, that is a dropped
    // dictation, not a finished one: what the user goes on saying would be lost.
    void end() { finish(hasSentEndOfAudio() ? std::nullopt : std::optional(TranscriptionError::connectionLost())); }

    std::optional<QString> m_language;
};

} // namespace

const StreamingService kAssemblyAIStreaming{"wss://streaming.assemblyai.com", "VELL_ASSEMBLYAI_STREAMING_URL",
                                            &openSession<AssemblyAISession>};
