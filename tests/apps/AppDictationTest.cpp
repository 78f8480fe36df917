#include "AccessibleText.h"
#include "AppProcess.h"
#include "platform/linux/desktop/TextFieldProcess.h"
#include "support/DesktopProbes.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The real program dictating into real applications on a private desktop:
// for each, the text must arrive in the application's own content, twice in
// a row, and the user's clipboard (text and an image) must come back.
namespace {

using namespace std::chrono_literals;

constexpr int kRightAlt = 108;
const QString kMicrophone = QStringLiteral("vell_mic");
const QString kMicrophoneUplink = QStringLiteral("vell_mic_uplink");
const QString kFirstSentence = QStringLiteral("This is a demo transcript coming from the Vell app.");
const QString kCopied = QStringLiteral("copied before the dictation");
constexpr int kImageWidth = 7;
// Generous: two shared cores may be busy building.
constexpr std::chrono::milliseconds kStartLimit = 60s;
constexpr std::chrono::milliseconds kAppStartLimit = 90s;
constexpr std::chrono::milliseconds kSettleLimit = 30s;

using DesktopProbes::eventually;
using DesktopProbes::run;

struct Window
{
    qint64 pid = 0;
    QString windowClass;
};

// The active window's process and class, as Vell sees them.
std::optional<Window> frontWindow()
{
    const std::optional<QByteArray> id = run(QStringLiteral("xdotool"), {u"getactivewindow"_qs});
    if (!id)
        return std::nullopt;
    const std::optional<QByteArray> properties =
        run(QStringLiteral("xprop"),
            {u"-notype"_qs, u"-id"_qs, QString::fromLatin1(id->trimmed()), u"WM_CLASS"_qs, u"_NET_WM_PID"_qs});
    if (!properties)
        return std::nullopt;
    const QString text = QString::fromUtf8(*properties);
    // WM_CLASS = "instance", "Class"
    const QRegularExpressionMatch wmClass =
        QRegularExpression(QStringLiteral("WM_CLASS = \"[^\"]*\", \"([^\"]*)\"")).match(text);
    const QRegularExpressionMatch pid = QRegularExpression(QStringLiteral("_NET_WM_PID = (\\d+)")).match(text);
    if (!wmClass.hasMatch() || !pid.hasMatch())
        return std::nullopt;
    return Window{pid.captured(1).toLongLong(), wmClass.captured(1)};
}

bool isRecording()
{
    const QByteArray index = DesktopProbes::sourceIndex(kMicrophone);
    for (const QByteArrayList& row : DesktopProbes::pactlRows(QStringLiteral("source-outputs")))
        if (!index.isEmpty() && row.size() > 1 && row[1] == index)
            return true;
    return false;
}

QByteArray imagePng()
{
    QImage image(kImageWidth, 5, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// The application a test dictates into, once its window is in front.
struct Target
{
    // What the application names itself in the window class, and so in the history.
    QString windowClass;
    // What it holds now, read from the application; absent while unreadable.
    std::function<std::optional<QString>(qint64 windowPid)> text;
    // Between two dictations: a space where Vell can read the character
    // before the caret, nothing where it cannot (xterm has no accessibility).
    QString separator = QStringLiteral(" ");
};

class AppDictationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-desktop";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("PULSE_SERVER")) << "run under tests/support/with-pulseaudio";
        ASSERT_TRUE(home.isValid());
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    }

    void TearDown() override
    {
        if (keyHeld)
            QProcess::execute(QStringLiteral("xdotool"), {u"keyup"_qs, QString::number(kRightAlt)});
        stopSpeech();
        stopVell();
    }

    QString path(const QString& relative) const { return home.filePath(relative); }

    QByteArray read(const QString& relative) const
    {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::string debugLog() const { return read(QStringLiteral("state/Vell/debug.log")).toStdString(); }
    QJsonArray history() const
    {
        return QJsonDocument::fromJson(read(QStringLiteral("data/Vell/history.json"))).array();
    }
    QString checkpointPath() const { return path(QStringLiteral("data/Vell/session-checkpoint.json")); }
    QString checkpointText() const
    {
        return QJsonDocument::fromJson(read(QStringLiteral("data/Vell/session-checkpoint.json")))
            .object()
            .value(QStringLiteral("text"))
            .toString();
    }

    // As for a user who chose the demo in setup; everything else fresh.
    void startVell()
    {
        QSettings preferences(path(QStringLiteral("config/Vell/Vell.conf")), QSettings::IniFormat);
        preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
        preferences.setValue(QStringLiteral("macSetupDone"), true);
        preferences.sync();

        vell.setProcessEnvironment(environment);
        vell.setStandardErrorFile(path(QStringLiteral("vell.stderr")));
        vell.start(QStringLiteral(VELL_BINARY));
        ASSERT_TRUE(vell.waitForStarted());
        ASSERT_TRUE(eventually(
            [&] {
                const QByteArray log = read(QStringLiteral("state/Vell/debug.log"));
                return vell.state() != QProcess::Running || (log.contains("hotkey: Event tap installed\n") &&
                                                             log.contains("audio: sound server connected\n"));
            },
            kStartLimit));
        ASSERT_EQ(vell.state(), QProcess::Running) << read(QStringLiteral("vell.stderr")).toStdString();
    }

    void stopVell()
    {
        if (vell.state() == QProcess::NotRunning)
            return;
        vell.terminate();
        if (!vell.waitForFinished(int(kSettleLimit.count()))) {
            vell.kill();
            vell.waitForFinished();
        }
    }

    // The user's own clipboard, text and an image, held by a text field of
    // another process; started before the application, which then takes the focus.
    void copyBeforeDictating()
    {
        clipboardOwner = std::make_unique<TextFieldProcess>();
        ASSERT_TRUE(clipboardOwner->isRunning());
        clipboardOwner->copy(kCopied, imagePng());
        // Its own clipboard it reads without X11, so not yet as image/png.
        ASSERT_EQ(clipboardOwner->clipboard().value(QStringLiteral("imageWidth")).toInt(), kImageWidth);
    }

    ::testing::AssertionResult hasTheCopiedClipboard()
    {
        QJsonObject seen;
        if (eventually(
                [&] {
                    seen = clipboardOwner->clipboard();
                    return seen.value(QStringLiteral("text")).toString() == kCopied &&
                           seen.value(QStringLiteral("imageWidth")).toInt() == kImageWidth &&
                           seen.value(QStringLiteral("formats")).toArray().contains(QStringLiteral("image/png"));
                },
                kSettleLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the clipboard holds " << QJsonDocument(seen).toJson().toStdString();
    }

    AppProcess* startApp(const QString& program, const QStringList& arguments, const QProcessEnvironment& extra = {})
    {
        QProcessEnvironment withExtra = environment;
        for (const QString& name : extra.keys())
            withExtra.insert(name, extra.value(name));
        app = std::make_unique<AppProcess>(program, arguments, withExtra, path(QStringLiteral("app.log")));
        return app.get();
    }

    // Until the application's window is in front and its text is readable and empty.
    bool cameToFront(const Target& target, std::chrono::milliseconds limit = kAppStartLimit)
    {
        return eventually(
            [&] {
                const std::optional<Window> front = frontWindow();
                if (!front || front->windowClass != target.windowClass)
                    return false;
                windowPid = front->pid;
                return target.text(windowPid) == QString();
            },
            limit);
    }

    void stopSpeech()
    {
        if (speech.state() == QProcess::NotRunning)
            return;
        speech.kill();
        speech.waitForFinished();
    }

    // Long enough to outlast the hold, so the microphone hears speech throughout.
    bool playSpeech()
    {
        stopSpeech();
        const QString wave = path(QStringLiteral("speech.wav"));
        if (!QFile::exists(wave) &&
            QProcess::execute(QStringLiteral("espeak-ng"),
                              {u"-s"_qs, u"110"_qs, u"-w"_qs, wave, kFirstSentence + u' ' + kFirstSentence}) != 0)
            return false;
        speech.start(QStringLiteral("paplay"), {u"-d"_qs, kMicrophoneUplink, wave});
        return speech.waitForStarted();
    }

    // Holds the shortcut until the demo has said its first sentence; returns
    // the text of the dictation once Vell has pasted it, or nothing.
    QString dictate()
    {
        const qsizetype earlier = history().size();
        // The previous dictation is over only when its checkpoint is gone.
        if (!eventually([&] { return !QFile::exists(checkpointPath()) && !isRecording(); }, kSettleLimit)) {
            ADD_FAILURE() << "the previous dictation never ended\n" << debugLog();
            return {};
        }
        if (!playSpeech()) {
            ADD_FAILURE() << "no speech for the microphone";
            return {};
        }
        // By keycode: by name, xdotool may press the left Alt too.
        keyHeld = QProcess::execute(QStringLiteral("xdotool"), {u"keydown"_qs, QString::number(kRightAlt)}) == 0;
        const bool heard = eventually([&] { return checkpointText() == kFirstSentence; }, kStartLimit);
        keyHeld = QProcess::execute(QStringLiteral("xdotool"), {u"keyup"_qs, QString::number(kRightAlt)}) != 0;
        if (!heard) {
            ADD_FAILURE() << "the checkpoint holds \"" << checkpointText().toStdString() << "\"\n" << debugLog();
            return {};
        }

        QJsonObject newest;
        const bool delivered = eventually(
            [&] {
                const QJsonArray entries = history();
                newest = entries.first().toObject();
                // Each entry is stored before its delivery and then marked.
                return entries.size() > earlier && newest.value(QStringLiteral("status")) == u"pasted"_qs;
            },
            kSettleLimit);
        stopSpeech();
        if (!delivered) {
            ADD_FAILURE() << "the dictation ended as \""
                          << newest.value(QStringLiteral("status")).toString().toStdString() << "\"\n"
                          << debugLog();
            return {};
        }
        const QString text = newest.value(QStringLiteral("text")).toString();
        EXPECT_TRUE(text.startsWith(kFirstSentence)) << text.toStdString();
        return text;
    }

    ::testing::AssertionResult holds(const Target& target, const QString& expected)
    {
        std::optional<QString> seen;
        if (eventually(
                [&] {
                    seen = target.text(windowPid);
                    return seen == expected;
                },
                kSettleLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the application holds " << (seen ? '"' + seen->toStdString() + '"' : std::string("nothing legible"))
               << "\ninstead of \"" << expected.toStdString() << "\"\n"
               << debugLog();
    }

    // Two dictations in a row land one after the other, each time under the
    // application's own name and with the user's clipboard given back after.
    void expectDictationsLand(const Target& target)
    {
        const QString first = dictate();
        ASSERT_FALSE(first.isEmpty());
        EXPECT_TRUE(holds(target, first));
        EXPECT_EQ(history().first().toObject().value(QStringLiteral("appName")).toString().toStdString(),
                  target.windowClass.toStdString());
        EXPECT_TRUE(hasTheCopiedClipboard()) << "after the first dictation";

        const QString second = dictate();
        ASSERT_FALSE(second.isEmpty());
        EXPECT_TRUE(holds(target, first + target.separator + second));
        EXPECT_EQ(history().first().toObject().value(QStringLiteral("appName")).toString().toStdString(),
                  target.windowClass.toStdString());
        EXPECT_TRUE(hasTheCopiedClipboard()) << "after the second dictation";
    }

    // Reads a file an application writes.
    static std::function<std::optional<QString>(qint64)> fileText(const QString& file)
    {
        return [file](qint64) -> std::optional<QString> {
            QFile written(file);
            if (!written.open(QIODevice::ReadOnly))
                return std::nullopt;
            return QString::fromUtf8(written.readAll());
        };
    }

    // A shell in the terminal copies what it is sent to `file`, showing it
    // as it comes: no line editing, so nothing waits for a newline.
    QString terminalCommand(const QString& file) const
    {
        return QStringLiteral("stty -icanon; exec cat > '%1'").arg(file);
    }

    QTemporaryDir home;
    QProcessEnvironment environment;
    QProcess vell;
    QProcess speech;
    std::unique_ptr<TextFieldProcess> clipboardOwner;
    std::unique_ptr<AppProcess> app;
    qint64 windowPid = 0;
    bool keyHeld = false;
};

// The project's own field: the case every other test is measured against.
TEST_F(AppDictationTest, TextField)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    const Target target{QStringLiteral("vell-textfield"), [this](qint64) -> std::optional<QString> {
                            const QJsonObject state = clipboardOwner->send({{QStringLiteral("do"), u"state"_qs}});
                            if (state.isEmpty())
                                return std::nullopt;
                            return state.value(QStringLiteral("text")).toString();
                        }};
    ASSERT_TRUE(cameToFront(target));
    expectDictationsLand(target);
}

// Firefox focuses its menu bar when Alt is pressed and released alone, which
// would take the paste away from the page.
TEST_F(AppDictationTest, Firefox)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    const QString page = path(QStringLiteral("page.html"));
    QFile html(page);
    ASSERT_TRUE(html.open(QIODevice::WriteOnly));
    // The page shows what its text area holds in its title, and so in the window's name.
    html.write("<!doctype html><html><head><title>[[]]</title></head><body>"
               "<textarea autofocus rows=\"6\" cols=\"60\"></textarea><script>"
               "const area = document.querySelector('textarea');"
               "area.addEventListener('input', () => { document.title = '[[' + area.value + ']]'; });"
               "</script></body></html>\n");
    html.close();
    const QString profile = path(QStringLiteral("firefox"));
    ASSERT_TRUE(QDir().mkpath(profile));
    QFile prefs(profile + QStringLiteral("/user.js"));
    ASSERT_TRUE(prefs.open(QIODevice::WriteOnly));
    // A quiet first start: no welcome, no questions, nothing that goes online.
    for (const char* pref : {
             R"("browser.shell.checkDefaultBrowser", false)",
             R"("browser.startup.homepage_override.mstone", "ignore")",
             R"("browser.aboutwelcome.enabled", false)",
             R"("browser.newtabpage.enabled", false)",
             R"("browser.newtab.preload", false)",
             R"("browser.sessionstore.resume_from_crash", false)",
             R"("datareporting.policy.dataSubmissionEnabled", false)",
             R"("datareporting.healthreport.uploadEnabled", false)",
             R"("toolkit.telemetry.enabled", false)",
             R"("app.update.enabled", false)",
             R"("extensions.update.enabled", false)",
             R"("browser.safebrowsing.malware.enabled", false)",
             R"("browser.safebrowsing.phishing.enabled", false)",
             R"("network.proxy.type", 1)",
             R"("network.proxy.http", "127.0.0.1")",
             R"("network.proxy.http_port", 9)",
             R"("network.proxy.ssl", "127.0.0.1")",
             R"("network.proxy.ssl_port", 9)",
         })
        prefs.write(QByteArray("user_pref(") + pref + ");\n");
    prefs.close();

    startApp(QStringLiteral("firefox-esr"),
             {u"--no-remote"_qs, u"--profile"_qs, profile, QUrl::fromLocalFile(page).toString()});
    const Target target{QStringLiteral("firefox-esr"), [](qint64) -> std::optional<QString> {
                            const std::optional<QByteArray> name =
                                run(QStringLiteral("xdotool"), {u"getactivewindow"_qs, u"getwindowname"_qs});
                            const QString title = name ? QString::fromUtf8(name->trimmed()) : QString();
                            const qsizetype start = title.indexOf(u"[["_qs);
                            const qsizetype end = title.lastIndexOf(u"]]"_qs);
                            if (start < 0 || end < start)
                                return std::nullopt;
                            return title.mid(start + 2, end - start - 2);
                        }};
    ASSERT_TRUE(cameToFront(target)) << "Firefox never showed the page with its text area focused";
    expectDictationsLand(target);
}

// xterm pastes the primary selection on Shift+Insert.
TEST_F(AppDictationTest, Xterm)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    const QString received = path(QStringLiteral("xterm.txt"));
    startApp(QStringLiteral("xterm"), {u"-e"_qs, u"sh"_qs, u"-c"_qs, terminalCommand(received)});
    const Target target{QStringLiteral("XTerm"), fileText(received), QString()};
    ASSERT_TRUE(cameToFront(target)) << "xterm never came to the front";
    expectDictationsLand(target);
}

// A VTE terminal pastes on Ctrl+Shift+V.
TEST_F(AppDictationTest, LXTerminal)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    const QString received = path(QStringLiteral("lxterminal.txt"));
    startApp(QStringLiteral("lxterminal"),
             {u"--no-remote"_qs, u"-e"_qs, QStringLiteral("sh -c \"%1\"").arg(terminalCommand(received))});
    const Target target{QStringLiteral("Lxterminal"), fileText(received)};
    ASSERT_TRUE(cameToFront(target)) << "lxterminal never came to the front";
    expectDictationsLand(target);
}

// A GTK 3 editor.
TEST_F(AppDictationTest, Mousepad)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    startApp(QStringLiteral("mousepad"), {u"--disable-server"_qs});
    const Target target{QStringLiteral("Mousepad"), focusedText};
    ASSERT_TRUE(cameToFront(target)) << "Mousepad never showed an empty document";
    expectDictationsLand(target);
}

// LibreOffice's Qt backend opens its menus when Alt is pressed and released alone.
TEST_F(AppDictationTest, LibreOfficeWriter)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    ASSERT_NO_FATAL_FAILURE(copyBeforeDictating());
    QProcessEnvironment backend;
    backend.insert(QStringLiteral("SAL_USE_VCLPLUGIN"), QStringLiteral("qt5"));
    startApp(QStringLiteral("soffice"),
             {u"-env:UserInstallation="_qs + QUrl::fromLocalFile(path(QStringLiteral("libreoffice"))).toString(),
              u"--norestore"_qs, u"--nologo"_qs, u"--writer"_qs},
             backend);
    const Target target{QStringLiteral("libreoffice-writer"), documentText};
    if (!cameToFront(target))
        GTEST_SKIP() << "LibreOffice Writer showed no empty document within "
                     << std::chrono::duration_cast<std::chrono::seconds>(kAppStartLimit).count()
                     << " s on this desktop";
    expectDictationsLand(target);
}

} // namespace
