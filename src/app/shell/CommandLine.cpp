#include "app/shell/CommandLine.h"

#include "platform/ControlClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

struct CommandInfo
{
    const char* name;
    const char* method; // of the control interface
    const char* help;
};

const CommandInfo kCommands[] = {
    {"toggle", "Toggle", "Start dictating, or stop and paste"},
    {"start", "Start", "Start dictating"},
    {"stop", "Stop", "Stop dictating and paste"},
    {"cancel", "Cancel", "Stop dictating without pasting (the text goes to History)"},
    {"press", "ShortcutPressed", "The dictation shortcut went down (push-to-talk with \"release\")"},
    {"release", "ShortcutReleased", "The dictation shortcut came up"},
    {"settings", "ShowSettings", "Open the settings window"},
    {"history", "ShowHistory", "Open the History window"},
    {"setup", "ShowSetup", "Open the setup"},
    {"quit", "Quit", "Quit Vell"},
};

const char kNotRunning[] = "Vell isn't running.";

void printLine(std::FILE* stream, const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

QString describe(const ControlClient::Status& status, bool json)
{
    if (!json)
        return status.state;
    // The fields a status bar's custom module reads (text, alt, class,
    // tooltip), and Vell's own.
    const QJsonObject object{
        {QStringLiteral("state"), status.state},
        {QStringLiteral("notice"), status.noticeShowing},
        {QStringLiteral("lastOutcome"), status.lastOutcome},
        {QStringLiteral("text"), status.state},
        {QStringLiteral("alt"), status.state},
        {QStringLiteral("class"), status.state},
        {QStringLiteral("tooltip"), QStringLiteral("Vell: ") + status.state},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString helpText()
{
    QString text = QStringLiteral("\n\nCommands (they reach the Vell running in this session):\n");
    for (const CommandInfo& command : kCommands)
        text += QStringLiteral("  %1%2\n").arg(QLatin1String(command.name), -10).arg(QLatin1String(command.help));
    text += QStringLiteral("  %1%2\n")
                .arg(QStringLiteral("status"), -10)
                .arg(QStringLiteral("Print the state: idle, starting, listening or finishing"));
    text += QStringLiteral("\nExit status: 0 done, 1 refused (the reason is printed), 2 usage error, "
                           "3 Vell isn't running.");
    return text;
}

int status(ControlClient& client, bool follow, bool json)
{
    if (!follow) {
        const std::optional<ControlClient::Status> now = client.status();
        if (!now) {
            printLine(stderr, QLatin1String(kNotRunning));
            return CommandLine::notRunning;
        }
        printLine(stdout, describe(*now, json));
        return CommandLine::done;
    }

    if (!client.status()) {
        printLine(stderr, QLatin1String(kNotRunning));
        return CommandLine::notRunning;
    }
    // One line per change until interrupted; "off" while no Vell runs.
    QObject::connect(&client, &ControlClient::statusChanged,
                     [json](const ControlClient::Status& now) { printLine(stdout, describe(now, json)); });
    QObject::connect(&client, &ControlClient::stopped, [json] {
        printLine(stdout, describe({QStringLiteral("off"), false, QString()}, json));
    });
    if (!client.follow()) {
        printLine(stderr, QLatin1String(kNotRunning));
        return CommandLine::notRunning;
    }
    return QCoreApplication::exec();
}

} // namespace

namespace CommandLine {

bool isCommand(int argc, char** argv)
{
    return argc > 1 && argv[1][0] != '\0';
}

int run(int argc, char** argv, const char* version, const MakeClient& makeClient)
{
    // What a command prints is its contract with scripts and status bars:
    // Qt's own warnings (a bus hiccup) would come between its lines.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            std::fputs(qPrintable(message + QLatin1Char('\n')), stderr);
    });
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vell"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(version));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Vell: dictation for the desktop. Without a command, starts Vell.") + helpText());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption followOption(QStringLiteral("follow"), QStringLiteral("status: print every change"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("status: print JSON lines"));
    parser.addOption(followOption);
    parser.addOption(jsonOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to ask the running Vell."),
                                 QStringLiteral("[command]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(stderr, parser.errorText());
        return usage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(done); // exits
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // exits

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1) {
        printLine(stderr, arguments.isEmpty() ? QStringLiteral("No command given; see vell --help.")
                                              : QStringLiteral("One command at a time; see vell --help."));
        return usage;
    }
    const QString command = arguments.first();
    const bool follow = parser.isSet(followOption);
    const bool json = parser.isSet(jsonOption);
    if ((follow || json) && command != QLatin1String("status")) {
        printLine(stderr, QStringLiteral("--follow and --json go with the status command only."));
        return usage;
    }

    const std::unique_ptr<ControlClient> client = makeClient();
    if (command == QLatin1String("status"))
        return status(*client, follow, json);
    for (const CommandInfo& known : kCommands) {
        if (command != QLatin1String(known.name))
            continue;
        const ControlClient::Reply reply = client->call(QLatin1String(known.method));
        switch (reply.kind) {
        case ControlClient::Reply::Kind::done:
            return done;
        case ControlClient::Reply::Kind::refused:
            printLine(stderr, reply.message);
            return refused;
        case ControlClient::Reply::Kind::notRunning:
            printLine(stderr, QLatin1String(kNotRunning));
            return notRunning;
        case ControlClient::Reply::Kind::failed:
            printLine(stderr, QStringLiteral("Vell didn't answer: ") + reply.message);
            return refused;
        }
    }
    printLine(stderr, QStringLiteral("Unknown command \"%1\"; see vell --help.").arg(command));
    return usage;
}

} // namespace CommandLine
