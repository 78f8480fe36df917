#include "transcription/MockTranscriber.h"

#include "transcription/AudioStream.h"

#include <QStringList>
#include <QTimer>

const MockTranscriber::Line MockTranscriber::kDemoScript[3] = {
    {"en", "This is a demo transcript coming from the Vell app."},
    {"es", "Y ahora cambio al español a mitad de la frase."},
    {"en", "And back to English once the demo is over."},
};

namespace {

class MockSession final : public TranscriptionSession
{
public:
    MockSession(std::shared_ptr<AudioStream> audio, MockTranscriberTimings timings)
        : m_audio(std::move(audio)), m_timings(timings)
    {
        m_wordTimer.setSingleShot(true);
        m_wordTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_wordTimer, &QTimer::timeout, this, &MockSession::showNextWord);
        m_closingTimer.setSingleShot(true);
        m_closingTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_closingTimer, &QTimer::timeout, this, [this] { Q_EMIT finished(std::nullopt); });
        QTimer::singleShot(0, this, &MockSession::begin);
    }

private:
    void begin()
    {
        Q_EMIT eventReceived(TranscriptEvent::connected());
        beginLine();
        connect(m_audio.get(), &AudioStream::readyRead, this, &MockSession::readAudio);
        readAudio();
    }

    // The audio is only drained; its end is what matters.
    void readAudio()
    {
        m_audio->takeAll();
        if (m_audio->atEnd() && !m_closingTimer.isActive()) {
            disconnect(m_audio.get(), nullptr, this, nullptr);
            m_wordTimer.stop();
            m_scriptOver = true;
            m_closingTimer.start(m_timings.closingDelay);
        }
    }

    void beginLine()
    {
        const MockTranscriber::Line& line = MockTranscriber::kDemoScript[m_line];
        m_words = QString::fromUtf8(line.sentence).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        m_shown = 0;
        Q_EMIT eventReceived(TranscriptEvent::language(QString::fromLatin1(line.language)));
        if (!m_scriptOver)
            m_wordTimer.start(m_timings.wordInterval);
    }

    void showNextWord()
    {
        ++m_shown;
        Q_EMIT eventReceived(TranscriptEvent::interim(m_words.mid(0, m_shown).join(QLatin1Char(' '))));
        if (m_shown < m_words.size()) {
            m_wordTimer.start(m_timings.wordInterval);
            return;
        }
        Q_EMIT eventReceived(
            TranscriptEvent::finalText(QString::fromUtf8(MockTranscriber::kDemoScript[m_line].sentence)));
        Q_EMIT eventReceived(TranscriptEvent::interim(QString()));
        if (++m_line < int(std::size(MockTranscriber::kDemoScript)))
            beginLine();
        else
            m_scriptOver = true; // the session stays open until the audio ends
    }

    std::shared_ptr<AudioStream> m_audio;
    MockTranscriberTimings m_timings;
    QTimer m_wordTimer;
    QTimer m_closingTimer;
    int m_line = 0;
    QStringList m_words;
    qsizetype m_shown = 0;
    bool m_scriptOver = false;
};

} // namespace

std::unique_ptr<TranscriptionSession> MockTranscriber::transcribe(std::shared_ptr<AudioStream> audio,
                                                                  const TranscriberConfig&)
{
    return std::make_unique<MockSession>(std::move(audio), m_timings);
}
