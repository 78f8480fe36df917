#include "Screenshots.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

constexpr int kRightAlt = 108;

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Ends a helper program by its pid when the test is done with it.
class Helper
{
public:
    explicit Helper(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(environment);
    }
    ~Helper()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }

    QProcess process;
};

// The test's text field: one JSON command per line in, one answer out.
QJsonObject ask(QProcess& field, const char* command)
{
    field.write(QByteArray("{\"do\":\"") + command + "\"}\n");
    if (!QTest::qWaitFor([&] { return field.canReadLine(); }, 5000))
        return {};
    return QJsonDocument::fromJson(field.readLine()).object();
}

// The window of the tray host, and whether one of Vell's windows sits in it.
std::optional<QString> trayWindow()
{
    static const QRegularExpression line(QStringLiteral(R"(^\s*(0x[0-9a-f]+) "panel": \("panel" "trayer"\))"),
                                         QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(run(QStringLiteral("xwininfo"), {u"-root"_qs, u"-tree"_qs}));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

bool trayHoldsVell(const QString& tray)
{
    return run(QStringLiteral("xwininfo"), {u"-tree"_qs, u"-id"_qs, tray})
        .contains(QStringLiteral("(\"vell\" \"Vell\")"));
}

QRect geometryOf(const QString& window)
{
    const QString info = run(QStringLiteral("xwininfo"), {u"-id"_qs, window});
    const auto number = [&](const char* label) {
        const QRegularExpression pattern(QString::fromLatin1(label) + QStringLiteral(R"(:\s+(-?\d+))"));
        return pattern.match(info).captured(1).toInt();
    };
    return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height")};
}

TEST(EndToEndTest, DictationWithTheTrayAndThePanelLandsInTheFocusedField)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under with-pulseaudio and with-desktop";
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"config", "data", "state", "cache"}) {
        const QString path = home.filePath(QString::fromLatin1(folder));
        QDir().mkpath(path);
        environment.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(folder).toUpper()), path);
    }
    environment.insert(QStringLiteral("HOME"), home.path());
    {
        QSettings preferences(home.filePath(QStringLiteral("config/Vell/Vell.conf")), QSettings::IniFormat);
        preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
        preferences.setValue(QStringLiteral("macSetupDone"), true);
    }
    const auto debugLog = [&] {
        QFile file(home.filePath(QStringLiteral("state/Vell/debug.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };

    Helper tray;
    tray.process.start(QStringLiteral("trayer"),
                       {u"--edge"_qs, u"top"_qs, u"--align"_qs, u"right"_qs, u"--widthtype"_qs, u"request"_qs,
                        u"--height"_qs, u"24"_qs, u"--tint"_qs, u"0x303030"_qs, u"--transparent"_qs, u"true"_qs,
                        u"--alpha"_qs, u"0"_qs});
    std::optional<QString> trayId;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (trayId = trayWindow()).has_value(); }, 10000)) << "trayer did not start";

    Helper vell(environment);
    vell.process.setProcessChannelMode(QProcess::ForwardedChannels);
    vell.process.start(QStringLiteral(VELL_BINARY));
    ASSERT_TRUE(vell.process.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return trayHoldsVell(*trayId); }, 10000)) << "no icon in the tray";
    ASSERT_TRUE(QTest::qWaitFor([&] { return debugLog().contains(u"hotkey: Event tap installed"); }, 10000));
    QImage trayShot;
    const bool iconDrawn = QTest::qWaitFor(
        [&] {
            // Asked each time: the tray widens to take the icon a moment after it holds it.
            trayShot = Screenshots::grab(geometryOf(*trayId));
            return Screenshots::shareLike(trayShot, qRgb(0x30, 0x30, 0x30)) > 0.3 &&
                   Screenshots::shareLight(trayShot) > 0.05;
        },
        15000); // a bound, not a measure: the tray may be slow on a busy machine
    Screenshots::save(trayShot, QStringLiteral("tray.png"));
    EXPECT_TRUE(iconDrawn) << "the icon is not drawn";

    Helper field;
    field.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    field.process.start(QStringLiteral(VELL_TEXTFIELD));
    ASSERT_TRUE(field.process.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(field.process, "activate").value(u"active").toBool(); }, 10000));

    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keydown"_qs, QString::number(kRightAlt)}), 0);
    QString panel;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            panel = run(QStringLiteral("xdotool"), {u"search"_qs, u"--onlyvisible"_qs, u"--name"_qs, u"^Vell$"_qs})
                        .trimmed();
            return !panel.isEmpty();
        },
        10000))
        << "the panel did not show";
    // Wait for the first sentence while the key is held; the field keeps the focus throughout.
    bool focused = true;
    QImage panelShot;
    const QRect panelArea = geometryOf(panel.section(u'\n', 0, 0));
    EXPECT_EQ(panelArea.size(), QSize(520, 120));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            focused = focused && ask(field.process, "state").value(u"active").toBool();
            panelShot = Screenshots::grab(panelArea);
            return Screenshots::shareLike(panelShot, qRgb(28, 28, 30)) > 0.2 &&
                   Screenshots::shareLight(panelShot) > 0.01 && debugLog().contains(u"dictation started");
        },
        5000))
        << "the panel shows nothing";
    QTest::qWait(2600); // a real-time hold: the demo's first sentence takes about 2.2 s to appear
    panelShot = Screenshots::grab(panelArea);
    EXPECT_GT(Screenshots::shareLight(panelShot), 0.03) << "no live text on the panel";
    Screenshots::save(panelShot, QStringLiteral("e2e-panel-listening.png"));
    focused = focused && ask(field.process, "state").value(u"active").toBool();
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keyup"_qs, QString::number(kRightAlt)}), 0);

    QString text;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            text = ask(field.process, "state").value(u"text").toString();
            return !text.isEmpty();
        },
        10000))
        << debugLog().toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("This is a demo transcript coming from the Vell app.")))
        << text.toStdString();
    EXPECT_TRUE(focused) << "the field lost the focus while dictating";
    EXPECT_TRUE(ask(field.process, "state").value(u"active").toBool());
    std::printf("landed: %s\n", qPrintable(text));

    ::kill(pid_t(vell.process.processId()), SIGTERM);
    ASSERT_TRUE(vell.process.waitForFinished(10000));
    EXPECT_EQ(vell.process.exitCode(), 0);
}

} // namespace
