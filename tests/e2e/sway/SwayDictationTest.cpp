#include "e2e/EndToEndFixture.h"
#include "platform/linux/CompositorWorkspace.h"
#include "shortcut/CompositorBindings.h"

// The real program in a headless sway session (tests/support/with-sway): a
// native Wayland text field in front, the shortcut bound in sway with the
// lines Vell shows its user, held on sway's virtual keyboard.
namespace {

using namespace e2e;

std::optional<QByteArray> swaymsg(const QStringList& arguments)
{
    return run(QStringLiteral("swaymsg"), arguments);
}

class SwayDictationTest : public EndToEndFixture
{
protected:
    void SetUp() override
    {
        EndToEndFixture::SetUp();
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("SWAYSOCK")) << "run under tests/support/with-sway";
    }

    std::optional<RunningApplication> focusedInSway()
    {
        const std::optional<QByteArray> tree = swaymsg({u"-t"_qs, u"get_tree"_qs});
        return tree ? CompositorWorkspace::focusedInSwayTree(*tree) : std::nullopt;
    }

    // What the user's own binding runs. Sway was started before this test's
    // session bus, so the command names it (without the guid: sway splits
    // commands at commas).
    QString bindingCommand() const
    {
        const QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").section(QLatin1Char(','), 0, 0);
        return QStringLiteral("env DBUS_SESSION_BUS_ADDRESS=%1 %2").arg(bus, vellBinary());
    }
};

TEST_F(SwayDictationTest, AShortcutBoundInSwayPastesTheDemoIntoANativeWaylandField)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    TextFieldProcess field({u"--class"_qs, u"vell-textfield"_qs});
    qunsetenv("QT_QPA_PLATFORM"); // Vell chooses for itself
    ASSERT_TRUE(field.isRunning());

    ASSERT_NO_FATAL_FAILURE(startVell("control: serving org.brightfold.Vell on the session bus\n"));
    // Sway shows no tray, so Vell opens its settings to be reachable at all;
    // the user then goes back to the field.
    ASSERT_TRUE(
        eventually([&] { return debugLog().contains("no system tray; opening the settings window"); }, kStartLimit));
    QTest::qWait(500);
    swaymsg({u"[app_id=\"vell-textfield\"] focus"_qs});
    ASSERT_TRUE(eventually(
        [&] {
            const std::optional<RunningApplication> front = focusedInSway();
            return front && front->pid == field.pid() &&
                   field.send({{QStringLiteral("do"), QStringLiteral("state")}}).value(u"active"_qs).toBool();
        },
        kStartLimit))
        << "the field never came to the front";

    const QString before = QStringLiteral("copied before the dictation");
    ASSERT_EQ(QProcess::execute(QStringLiteral("wl-copy"), {before}), 0);

    const std::optional<QStringList> lines =
        CompositorBindings::lines(CompositorBindings::Compositor::sway, Shortcut::defaultShortcut(), bindingCommand());
    ASSERT_TRUE(lines);
    for (const QString& line : *lines) {
        const std::optional<QByteArray> answer = swaymsg({line});
        ASSERT_TRUE(answer && answer->contains("\"success\": true")) << line.toStdString();
    }

    // Right Alt held on sway's virtual keyboard through the whole demo.
    ASSERT_NO_FATAL_FAILURE(playSpeech());
    const auto hold = std::chrono::duration_cast<std::chrono::milliseconds>(kScriptTime + kHoldMargin + 1s);
    ASSERT_EQ(QProcess::execute(QStringLiteral("wtype"), {u"-P"_qs, u"Alt_R"_qs, u"-s"_qs,
                                                          QString::number(hold.count()), u"-p"_qs, u"Alt_R"_qs}),
              0);

    EXPECT_TRUE(fieldHolds(field, kWholeScript));
    const QJsonObject entry = onlyEntryWith("pasted");
    EXPECT_EQ(entry.value(u"text"_qs).toString().toStdString(), kWholeScript.toStdString());
    EXPECT_EQ(entry.value(u"appName"_qs).toString().toStdString(), "vell-textfield"); // from sway's tree

    // The user's clipboard comes back after the paste.
    QString clipboard;
    EXPECT_TRUE(eventually(
        [&] {
            clipboard = QString::fromUtf8(run(QStringLiteral("wl-paste"), {u"-n"_qs}).value_or(QByteArray()));
            return clipboard == before;
        },
        kSettleLimit))
        << "the clipboard holds \"" << clipboard.toStdString() << "\"";

    stopVell();
    const QByteArray log = debugLog();
    EXPECT_TRUE(log.contains("session: Wayland (wlroots), because SWAYSOCK is set")) << log.toStdString();
    EXPECT_TRUE(log.contains("adapters: keyboard evdev, keystrokes virtual keyboard, front window sway IPC, "
                             "clipboard data control"))
        << log.toStdString();
    expectNoDictatedWordInTheLog();
}

} // namespace
