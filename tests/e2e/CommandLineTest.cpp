#include "e2e/EndToEndFixture.h"

#include <QXmlStreamReader>

// The `vell` commands against the real program over this desktop's session
// bus, as a desktop shortcut, a compositor binding or a status bar calls them.
namespace {

using namespace e2e;

struct CommandResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The interface as a sorted list of lines ("method Toggle", "property State s
// read", "arg …"), so two descriptions compare whatever their layout.
QStringList interfaceShape(const QByteArray& xml, const QString& interfaceName)
{
    const auto attribute = [](const QXmlStreamAttributes& attributes, const char* name) {
        return attributes.value(QLatin1String(name)).toString();
    };
    QStringList shape;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString member;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement() && reader.name() == u"interface")
            inside = false;
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == u"interface") {
            inside = attribute(attributes, "name") == interfaceName;
            continue;
        }
        if (!inside)
            continue;
        if (reader.name() == u"method" || reader.name() == u"signal") {
            member = attribute(attributes, "name");
            shape << reader.name().toString() + u' ' + member;
        } else if (reader.name() == u"property") {
            shape << QStringLiteral("property %1 %2 %3")
                         .arg(attribute(attributes, "name"), attribute(attributes, "type"),
                              attribute(attributes, "access"));
        } else if (reader.name() == u"arg") {
            shape << QStringLiteral("arg %1 %2 %3 %4")
                         .arg(member, attribute(attributes, "name"), attribute(attributes, "type"),
                              attribute(attributes, "direction"));
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    shape.sort();
    return shape;
}

class CommandLineTest : public EndToEndFixture
{
protected:
    // The commands need the bus name, which Vell takes after its shortcut is ready.
    void startVell() { EndToEndFixture::startVell("control: serving org.brightfold.Vell on the session bus\n"); }

    void TearDown() override
    {
        if (follower.state() != QProcess::NotRunning) {
            follower.kill();
            follower.waitForFinished();
        }
        EndToEndFixture::TearDown();
    }

    CommandResult vellCommand(const QStringList& arguments)
    {
        QProcess command;
        command.setProcessEnvironment(vellEnvironment());
        command.start(vellBinary(), arguments);
        CommandResult result;
        if (!command.waitForFinished(int(std::chrono::milliseconds(kSettleLimit).count()))) {
            command.kill();
            command.waitForFinished();
            ADD_FAILURE() << "vell " << arguments.join(u' ').toStdString() << " did not finish";
            return result;
        }
        result.exitCode = command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
        result.out = QString::fromUtf8(command.readAllStandardOutput());
        result.err = QString::fromUtf8(command.readAllStandardError());
        return result;
    }

    void expectDone(const QStringList& arguments)
    {
        const CommandResult result = vellCommand(arguments);
        EXPECT_EQ(result.exitCode, 0) << "vell " << arguments.join(u' ').toStdString() << ": "
                                      << result.err.toStdString();
    }

    // Waits until the dictation has heard `text`, as the checkpoint shows.
    ::testing::AssertionResult hears(const QString& text)
    {
        if (eventually([&] { return checkpointText() == text; }, kStartLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the checkpoint holds \"" << checkpointText().toStdString() << "\"\n"
                                             << debugLog().toStdString();
    }

    // The states the follower printed, a repeat of the same state counted once.
    QStringList followedStates()
    {
        m_followed += follower.readAllStandardOutput();
        QStringList states;
        for (const QByteArray& line : m_followed.split('\n')) {
            if (line.isEmpty())
                continue;
            const QString state = QJsonDocument::fromJson(line).object().value(QStringLiteral("state")).toString();
            if (states.isEmpty() || states.last() != state)
                states << state;
        }
        return states;
    }

    QProcess follower;

private:
    QByteArray m_followed;
};

TEST_F(CommandLineTest, WithoutVellEveryCommandSaysSoAndFails)
{
    for (const char* command :
         {"toggle", "start", "stop", "cancel", "press", "release", "settings", "history", "setup", "quit", "status"}) {
        const CommandResult result = vellCommand({QString::fromLatin1(command)});
        EXPECT_EQ(result.exitCode, 3) << command;
        EXPECT_EQ(result.err, u"Vell isn't running.\n"_qs) << command;
        EXPECT_TRUE(result.out.isEmpty()) << command;
    }
    const CommandResult follow = vellCommand({u"status"_qs, u"--follow"_qs, u"--json"_qs});
    EXPECT_EQ(follow.exitCode, 3);
    EXPECT_EQ(follow.err, u"Vell isn't running.\n"_qs);

    const CommandResult unknown = vellCommand({u"dictate"_qs});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, u"Unknown command \"dictate\"; see vell --help.\n"_qs);
    const CommandResult help = vellCommand({u"--help"_qs});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(u"  toggle    Start dictating, or stop and paste\n"_qs)) << help.out.toStdString();
    // None of them started a Vell of its own.
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("state/Vell/debug.log"))));

    // Vell itself on a Wayland session without XWayland: one sentence, and no start.
    QProcess bare;
    QProcessEnvironment environment = vellEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), path(QStringLiteral("no-compositor")));
    bare.setProcessEnvironment(environment);
    bare.start(vellBinary());
    ASSERT_TRUE(bare.waitForFinished(int(std::chrono::milliseconds(kSettleLimit).count())));
    EXPECT_EQ(bare.exitCode(), 1);
    // Its log lines go to standard error too; the sentence comes last.
    const QString said = QString::fromUtf8(bare.readAllStandardError());
    EXPECT_TRUE(said.endsWith(u"\nVell shows its panel and windows through XWayland, which this Wayland session "
                              "doesn't offer: turn XWayland on in your compositor's settings.\n"_qs))
        << said.toStdString();
}

TEST_F(CommandLineTest, PressAndReleaseArePushToTalk)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    ASSERT_NO_FATAL_FAILURE(playSpeech());

    expectDone({u"press"_qs});
    ASSERT_TRUE(hears(kFirstSentence));
    EXPECT_EQ(recordStreamsOn(kMicrophone).join(u'|').toStdString(), "s16le 1ch 16000Hz");
    expectDone({u"release"_qs});

    const QJsonObject entry = onlyEntryWith("pasted");
    EXPECT_EQ(entry.value(QStringLiteral("appName")).toString().toStdString(), "vell-textfield");
    const QString text = entry.value(QStringLiteral("text")).toString();
    EXPECT_TRUE(text.startsWith(kFirstSentence)) << text.toStdString();
    QString seen;
    EXPECT_TRUE(eventually(
        [&] {
            seen = field.text();
            return seen == text;
        },
        kSettleLimit))
        << "the field reads \"" << seen.toStdString() << "\"";
    EXPECT_TRUE(eventually([] { return recordStreamsOn(kMicrophone).isEmpty(); }, kSettleLimit))
        << "the microphone stays open";

    // Stopping again makes no sense now: refused, with the reason.
    const CommandResult stop = vellCommand({u"stop"_qs});
    EXPECT_EQ(stop.exitCode, 1);
    EXPECT_TRUE(stop.err.startsWith(u"Vell isn't dictating.\n"_qs)) << stop.err.toStdString();
}

TEST_F(CommandLineTest, ToggleTwiceDictatesAndTheStatusFollowsEveryState)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    follower.setProcessEnvironment(vellEnvironment());
    follower.start(vellBinary(), {u"status"_qs, u"--follow"_qs, u"--json"_qs});
    ASSERT_TRUE(eventually([&] { return followedStates() == QStringList{u"idle"_qs}; }, kStartLimit))
        << followedStates().join(u' ').toStdString()
        << QString::fromUtf8(follower.readAllStandardError()).toStdString();
    ASSERT_NO_FATAL_FAILURE(playSpeech());

    expectDone({u"toggle"_qs});
    ASSERT_TRUE(hears(kFirstSentence));
    const CommandResult again = vellCommand({u"start"_qs});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, u"Vell is already dictating.\n"_qs);
    expectDone({u"toggle"_qs});

    const QJsonObject entry = onlyEntryWith("pasted");
    const QString text = entry.value(QStringLiteral("text")).toString();
    EXPECT_TRUE(text.startsWith(kFirstSentence)) << text.toStdString();
    EXPECT_TRUE(eventually([&] { return field.text() == text; }, kSettleLimit)) << field.text().toStdString();

    const QStringList cycle{u"idle"_qs, u"starting"_qs, u"listening"_qs, u"finishing"_qs, u"idle"_qs};
    EXPECT_TRUE(eventually([&] { return followedStates() == cycle; }, kSettleLimit))
        << followedStates().join(u' ').toStdString();
    const CommandResult status = vellCommand({u"status"_qs, u"--json"_qs});
    EXPECT_EQ(status.exitCode, 0);
    const QJsonObject now = QJsonDocument::fromJson(status.out.toUtf8()).object();
    EXPECT_EQ(now.value(QStringLiteral("state")).toString().toStdString(), "idle");
    EXPECT_EQ(now.value(QStringLiteral("lastOutcome")).toString().toStdString(), "pasted");

    // Quitting through the command ends the program cleanly; the follower says so.
    expectDone({u"quit"_qs});
    EXPECT_TRUE(vell.waitForFinished(int(std::chrono::milliseconds(kSettleLimit).count())));
    EXPECT_EQ(vell.exitCode(), 0);
    EXPECT_TRUE(eventually([&] { return followedStates().endsWith(u"off"_qs); }, kSettleLimit))
        << followedStates().join(u' ').toStdString();
    expectNoDictatedWordInTheLog();
}

TEST_F(CommandLineTest, CancelKeepsTheDictationInHistoryAndPastesNothing)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    ASSERT_NO_FATAL_FAILURE(playSpeech());

    expectDone({u"toggle"_qs});
    ASSERT_TRUE(hears(kFirstSentence));
    expectDone({u"cancel"_qs});

    const QJsonObject entry = onlyEntryWith("cancelled");
    EXPECT_TRUE(entry.value(QStringLiteral("text")).toString().startsWith(kFirstSentence));
    EXPECT_TRUE(usage().isEmpty());
    EXPECT_TRUE(eventually([] { return recordStreamsOn(kMicrophone).isEmpty(); }, kSettleLimit))
        << "the microphone stays open";
    QTest::qWait(500); // a paste would have come by now
    EXPECT_TRUE(field.text().isEmpty()) << field.text().toStdString();
}

TEST_F(CommandLineTest, TheServedInterfaceIsTheDocumentedOne)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    const std::optional<QByteArray> served =
        run(QStringLiteral("gdbus"), {u"introspect"_qs, u"--session"_qs, u"--dest"_qs, u"org.brightfold.Vell"_qs,
                                      u"--object-path"_qs, u"/org/brightfold/Vell"_qs, u"--xml"_qs});
    ASSERT_TRUE(served.has_value());
    QFile contract(QStringLiteral(VELL_CONTROL_XML));
    ASSERT_TRUE(contract.open(QIODevice::ReadOnly));
    const QString name = QStringLiteral("org.brightfold.Vell.Control");
    const QStringList documented = interfaceShape(contract.readAll(), name);
    EXPECT_FALSE(documented.isEmpty());
    EXPECT_EQ(interfaceShape(*served, name).join(u'\n').toStdString(), documented.join(u'\n').toStdString());
}

} // namespace
