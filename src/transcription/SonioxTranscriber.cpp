#include "transcription/SonioxTranscriber.h"

#include "transcription/StreamingClientSession.h"
#include "transcription/StreamingEndpoint.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace {

const QString kPath = QStringLiteral("/transcribe-websocket");
const QString kEndMarker = QStringLiteral("<end>");
const QString kFinalizeMarker = QStringLiteral("<fin>");

QJsonObject configuration(const TranscriberConfig& config)
{
    QJsonObject message{
        {QStringLiteral("model"), QStringLiteral("stt-rt-v5")},
        {QStringLiteral("audio_format"), QStringLiteral("pcm_s16le")},
        {QStringLiteral("sample_rate"), 16000},
        {QStringLiteral("num_channels"), 1},
        {QStringLiteral("enable_language_identification"), true},
        {QStringLiteral("enable_endpoint_detection"), true},
    };
    if (config.language)
        message.insert(QStringLiteral("language_hints"), QJsonArray{*config.language});
    if (!config.vocabulary.isEmpty())
        message.insert(QStringLiteral("context"),
                       QJsonObject{{QStringLiteral("terms"), QJsonArray::fromStringList(config.vocabulary)}});
    return message;
}

// Spaces and tabs go, line breaks stay.
QString trimSpaces(const QString& text)
{
    const auto isSpace = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// A JSON value as text, numbers in plain decimal.
QString valueText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (std::trunc(number) == number && std::abs(number) < 1e15)
            return QString::number(qint64(number));
        return QString::number(number, 'g', 17);
    }
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

bool isTrue(const QJsonValue& value)
{
    return value.isBool() && value.toBool();
}

class SonioxSession final : public StreamingClientSession
{
public:
    SonioxSession(std::shared_ptr<AudioStream> audio, const TranscriberConfig& config, const QUrl& endpoint,
                  WebSocketSessionTimings timings)
        : StreamingClientSession(
              std::move(audio),
              StreamingEndpoint::request(endpoint, kPath, {}, QStringLiteral("Bearer ") + config.apiKey), timings)
    {
        // Queued ahead of any audio until the upgrade is done.
        sendJSON(configuration(config));
    }

private:
    void onOpened() override { emitEvents({TranscriptEvent::connected()}); }

    void onMessage(const QJsonObject& message) override
    {
        if (message.contains(QLatin1String("error_code"))) {
            const QJsonValue text = message.value(QLatin1String("error_message"));
            const QString error = text.isString() ? text.toString()
                                                  : QStringLiteral("Soniox error ") +
                                                        valueText(message.value(QLatin1String("error_code")));
            if (emitEvents(commitKeepingLiveText()))
                finish(TranscriptionError::provider(error));
            return;
        }
        if (!emitEvents(tokenEvents(message)))
            return;
        if (isTrue(message.value(QLatin1String("finished"))))
            end(std::nullopt);
    }

    void sendEndOfAudio() override
    {
        if (sendJSON({{QStringLiteral("type"), QStringLiteral("finalize")}}))
            sendText(QString());
    }

    void onSocketEnded(const std::optional<TranscriptionError>& error) override { end(error); }

    // Pending final text first, whatever the ending. A service that ends the
    // session before the audio did has dropped the dictation, not finished it.
    void end(std::optional<TranscriptionError> error)
    {
        if (!emitEvents(commitKeepingLiveText()))
            return;
        if (!error && !hasSentEndOfAudio())
            error = TranscriptionError::connectionLost();
        finish(error);
    }

    QList<TranscriptEvent> tokenEvents(const QJsonObject& message)
    {
        QList<TranscriptEvent> events;
        QString nonFinal;
        bool endMark = false;
        const QJsonValue tokens = message.value(QLatin1String("tokens"));
        const QJsonArray list = tokens.isArray() ? tokens.toArray() : QJsonArray();
        const bool allObjects =
            std::all_of(list.begin(), list.end(), [](const QJsonValue& token) { return token.isObject(); });
        if (allObjects) {
            for (const QJsonValue& value : list) {
                const QJsonObject token = value.toObject();
                const QJsonValue text = token.value(QLatin1String("text"));
                if (!text.isString())
                    continue;
                const QString piece = text.toString();
                if (piece == kEndMarker || piece == kFinalizeMarker) {
                    endMark = true;
                    continue;
                }
                const QJsonValue language = token.value(QLatin1String("language"));
                if (language.isString() && language.toString() != m_language) {
                    m_language = language.toString();
                    events.append(TranscriptEvent::language(*m_language));
                }
                if (isTrue(token.value(QLatin1String("is_final"))))
                    m_finalText += piece;
                else
                    nonFinal += piece;
            }
        }
        m_nonFinal = nonFinal;
        if (endMark)
            events.append(commit());
        else
            events.append(TranscriptEvent::interim(trimSpaces(m_finalText + nonFinal)));
        return events;
    }

    // At an ending the words not yet final are still on screen: they stay as
    // the live text, so whoever reads the session can keep them.
    QList<TranscriptEvent> commitKeepingLiveText()
    {
        QList<TranscriptEvent> events = commit();
        const QString live = trimSpaces(std::exchange(m_nonFinal, {}));
        if (!live.isEmpty())
            events.append(TranscriptEvent::interim(live));
        return events;
    }

    QList<TranscriptEvent> commit()
    {
        const QString text = std::exchange(m_finalText, {}).trimmed();
        if (text.isEmpty())
            return {TranscriptEvent::interim(QString())};
        return {TranscriptEvent::finalText(text), TranscriptEvent::interim(QString())};
    }

    QString m_finalText;               // final token texts since the last commit, as received
    QString m_nonFinal;                // the words of the last message not yet final
    std::optional<QString> m_language; // the last language reported
};

} // namespace

const StreamingService kSonioxStreaming{"wss://stt-rt.soniox.com", "VELL_SONIOX_STREAMING_URL",
                                        &openSession<SonioxSession>};
