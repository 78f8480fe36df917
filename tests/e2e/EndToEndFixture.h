#pragma once

#include "platform/linux/desktop/TextFieldProcess.h"
#include "support/DesktopProbes.h"
#include "support/KeyboardLayout.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

// The real program on a real desktop: a window manager, a sound server whose
// virtual microphone hears synthetic speech, and a text field of another
// process to paste into. What the end-to-end tests share.
namespace e2e {

using namespace std::chrono_literals;

constexpr int kRightAlt = 108;
inline const QString kMicrophone = QStringLiteral("vell_mic");
inline const QString kMicrophoneUplink = QStringLiteral("vell_mic_uplink");
inline const QString kFirstSentence = QStringLiteral("This is a demo transcript coming from the Vell app.");
inline const QString kWholeScript =
    QStringLiteral("This is a demo transcript coming from the Vell app. Y ahora cambio al "
                   "español a mitad de la frase. And back to English once the demo is over.");
constexpr int kScriptWords = 29;
// The demo shows one word every 0.22 s.
constexpr std::chrono::milliseconds kScriptTime = kScriptWords * 220ms;
constexpr std::chrono::milliseconds kHoldMargin = 1500ms;
// Generous: two shared cores may be busy building.
constexpr std::chrono::milliseconds kStartLimit = 60s;
constexpr std::chrono::milliseconds kSettleLimit = 30s;

using DesktopProbes::eventually;
using DesktopProbes::pactlRows;
using DesktopProbes::run;

// The program under test; a wrapper that runs the tests as another user
// hands over a copy it can run.
inline QString vellBinary()
{
    return qEnvironmentVariable("VELL_BINARY", QStringLiteral(VELL_BINARY));
}

inline std::optional<qint64> frontmostPid()
{
    const std::optional<QByteArray> pid = run(QStringLiteral("xdotool"), {u"getactivewindow"_qs, u"getwindowpid"_qs});
    bool ok = false;
    const qint64 value = pid ? pid->trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional(value) : std::nullopt;
}

// Sample formats of the client record streams on a source; only Vell records here.
inline QStringList recordStreamsOn(const QString& source)
{
    const QByteArray index = DesktopProbes::sourceIndex(source);
    QStringList formats;
    for (const QByteArrayList& row : pactlRows(QStringLiteral("source-outputs")))
        if (!index.isEmpty() && row.size() > 4 && row[1] == index && row[3] == "protocol-native.c")
            formats.append(QString::fromUtf8(row[4]));
    return formats;
}

// A bare window of this process that records the keys it is sent.

class EndToEndFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-desktop";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER")) << "run under tests/support/with-pulseaudio";
        ASSERT_TRUE(home.isValid());
    }

    void TearDown() override
    {
        if (keyHeld)
            releaseShortcut();
        if (speech.state() != QProcess::NotRunning) {
            speech.kill();
            speech.waitForFinished();
        }
        stopVell();
    }

    QString path(const QString& relative) const { return home.filePath(relative); }

    QByteArray read(const QString& relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray debugLog() const { return read(QStringLiteral("state/Vell/debug.log")); }
    QJsonArray history() const
    {
        return QJsonDocument::fromJson(read(QStringLiteral("data/Vell/history.json"))).array();
    }
    QJsonArray usage() const { return QJsonDocument::fromJson(read(QStringLiteral("data/Vell/usage.json"))).array(); }
    QString checkpointText() const
    {
        return QJsonDocument::fromJson(read(QStringLiteral("data/Vell/session-checkpoint.json")))
            .object()
            .value(QStringLiteral("text"))
            .toString();
    }

    // This desktop's, with the home and XDG folders in the temporary folder.
    QProcessEnvironment vellEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        return environment;
    }

    // As for a user who chose the demo in setup; everything else fresh.
    // Ready once the log holds `readyLine` (on X11, the keyboard is watched).
    void startVell(const QByteArray& readyLine = "hotkey: Event tap installed\n")
    {
        QSettings preferences(path(QStringLiteral("config/Vell/Vell.conf")), QSettings::IniFormat);
        preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
        preferences.setValue(QStringLiteral("macSetupDone"), true);
        preferences.sync();

        vell.setProcessEnvironment(vellEnvironment());
        vell.setStandardErrorFile(path(QStringLiteral("vell.stderr")));
        vell.start(vellBinary());
        ASSERT_TRUE(vell.waitForStarted());
        ASSERT_TRUE(eventually(
            [&] {
                const QByteArray log = debugLog();
                return vell.state() != QProcess::Running ||
                       (log.contains(readyLine) && log.contains("audio: sound server connected\n"));
            },
            kStartLimit));
        ASSERT_EQ(vell.state(), QProcess::Running) << read(QStringLiteral("vell.stderr")).toStdString();
    }

    void stopVell()
    {
        if (vell.state() == QProcess::NotRunning)
            return;
        vell.terminate();
        if (!vell.waitForFinished(int(std::chrono::milliseconds(kSettleLimit).count()))) {
            vell.kill();
            vell.waitForFinished();
        }
    }

    ::testing::AssertionResult isInFront(TextFieldProcess& field)
    {
        if (!field.isRunning())
            return ::testing::AssertionFailure() << "the text field did not start";
        if (eventually(
                [&] {
                    return frontmostPid() == field.pid() &&
                           field.send({{QStringLiteral("do"), QStringLiteral("state")}})
                               .value(QStringLiteral("active"))
                               .toBool();
                },
                kStartLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the text field never came to the front";
    }

    // The only history entry, once its status is `status`.
    QJsonObject onlyEntryWith(const char* status)
    {
        const auto settled = [&] {
            const QJsonArray entries = history();
            return entries.size() == 1 &&
                   entries.first().toObject().value(QStringLiteral("status")).toString() == QLatin1String(status);
        };
        if (!eventually(settled, kSettleLimit)) {
            ADD_FAILURE() << "no single " << status
                          << " entry: " << read(QStringLiteral("data/Vell/history.json")).toStdString() << "\n"
                          << debugLog().toStdString();
            return {};
        }
        return history().first().toObject();
    }

    // Whether the field comes to hold exactly `text`.
    ::testing::AssertionResult fieldHolds(TextFieldProcess& field, const QString& text)
    {
        QString seen;
        if (eventually(
                [&] {
                    seen = field.text();
                    return seen == text;
                },
                kSettleLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the field reads \"" << seen.toStdString() << "\"\n"
                                             << debugLog().toStdString();
    }

    // Long enough to outlast any hold, so the microphone hears speech throughout.
    void playSpeech()
    {
        const QString wave = path(QStringLiteral("speech.wav"));
        ASSERT_EQ(QProcess::execute(QStringLiteral("espeak-ng"),
                                    {u"-s"_qs, u"110"_qs, u"-w"_qs, wave, kWholeScript + u' ' + kWholeScript}),
                  0);
        speech.start(QStringLiteral("paplay"), {u"-d"_qs, kMicrophoneUplink, wave});
        ASSERT_TRUE(speech.waitForStarted());
    }

    void pressShortcut()
    {
        // By keycode: by name, xdotool may press the left Alt too.
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keydown"_qs, QString::number(shortcutKey)}), 0);
        keyHeld = true;
    }

    void releaseShortcut()
    {
        keyHeld = false;
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keyup"_qs, QString::number(shortcutKey)}), 0);
    }

    // Holds the shortcut until the checkpoint holds `text`, and at least `minimum`.
    void dictate(const QString& text, std::chrono::milliseconds minimum)
    {
        ASSERT_NO_FATAL_FAILURE(playSpeech());
        // Spans the whole press, from before the key goes down until after it is up.
        QElapsedTimer held;
        held.start();
        ASSERT_NO_FATAL_FAILURE(pressShortcut());
        ASSERT_TRUE(eventually([] { return !recordStreamsOn(kMicrophone).isEmpty(); }, kSettleLimit))
            << "no recording started\n"
            << debugLog().toStdString();
        EXPECT_EQ(recordStreamsOn(kMicrophone).join(u'|').toStdString(), "s16le 1ch 16000Hz");
        ASSERT_TRUE(eventually([&] { return checkpointText() == text; }, kStartLimit))
            << "the checkpoint holds \"" << checkpointText().toStdString() << "\"\n"
            << debugLog().toStdString();
        const qint64 rest = minimum.count() - held.elapsed();
        if (rest > 0)
            QTest::qWait(int(rest)); // a real-time hold: the key stays down at least `minimum`
        ASSERT_NO_FATAL_FAILURE(releaseShortcut());
        heldFor = std::chrono::milliseconds(held.elapsed());
    }

    // Words a log line must never carry: every script word of five letters or more.
    static QStringList dictatedWords()
    {
        QStringList words;
        for (const QString& word : kWholeScript.split(
                 QRegularExpression(QStringLiteral("\\W+"), QRegularExpression::UseUnicodePropertiesOption),
                 Qt::SkipEmptyParts))
            if (word.size() >= 5)
                words.append(word);
        return words;
    }

    void expectNoDictatedWordInTheLog()
    {
        const QString log = QString::fromUtf8(debugLog());
        EXPECT_FALSE(log.isEmpty());
        for (const QString& word : dictatedWords())
            EXPECT_FALSE(log.contains(word, Qt::CaseInsensitive)) << word.toStdString() << "\n" << log.toStdString();
    }

    QTemporaryDir home;
    QProcess vell;
    QProcess speech;
    int shortcutKey = kRightAlt; // the X key code of the modifier-only shortcut
    bool keyHeld = false;
    std::chrono::milliseconds heldFor{0};
};

} // namespace e2e
