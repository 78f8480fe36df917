#include "app/shell/RunningCopies.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

const QByteArray kQuitMessage = QByteArrayLiteral("quit\n");
const QString kSuffix = QStringLiteral(".socket");

} // namespace

RunningCopies::RunningCopies(const QString& folder, Identity self, const VellLog& log, QObject* parent)
    : QObject(parent), m_folder(folder), m_self(self), m_log(log)
{
    connect(&m_server, &QLocalServer::newConnection, this, &RunningCopies::onNewConnection);
}

RunningCopies::~RunningCopies()
{
    m_server.close(); // removes the socket file
}

QString RunningCopies::defaultFolder()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("no-display"));
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.-]")), QStringLiteral("_"));
    return runtime + QStringLiteral("/vell/") + display;
}

RunningCopies::Identity RunningCopies::currentProcess()
{
    return {QDateTime::currentMSecsSinceEpoch(), QCoreApplication::applicationPid()};
}

std::optional<RunningCopies::Identity> RunningCopies::parseSocketName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)-(\\d+)\\.socket$"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    if (!match.hasMatch())
        return std::nullopt;
    bool startOk = false;
    bool pidOk = false;
    const Identity identity{match.captured(1).toLongLong(&startOk), match.captured(2).toLongLong(&pidOk)};
    if (!startOk || !pidOk)
        return std::nullopt;
    return identity;
}

QString RunningCopies::socketPath() const
{
    return m_folder + QStringLiteral("/%1-%2").arg(m_self.startedAt).arg(m_self.pid) + kSuffix;
}

bool RunningCopies::start()
{
    bool listening = false;
    if (QDir().mkpath(m_folder)) {
        QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QLocalServer::removeServer(socketPath());
        listening = m_server.listen(socketPath());
    }
    if (!listening)
        m_log.error(QStringLiteral("Can't listen for newer copies of Vell: %1").arg(m_server.errorString()));

    const QStringList names =
        QDir(m_folder).entryList({QStringLiteral("*") + kSuffix}, QDir::System | QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const std::optional<Identity> other = parseSocketName(name);
        if (!other || *other == m_self)
            continue;
        askToQuit(*other, m_folder + QLatin1Char('/') + name);
    }
    return listening;
}

void RunningCopies::askToQuit(const Identity& other, const QString& path)
{
    auto* socket = new QLocalSocket(this);
    connect(socket, &QLocalSocket::connected, this, [this, socket, other] {
        if (other.isOlderThan(m_self)) {
            m_log.info(QStringLiteral("quitting another running copy, pid %1").arg(other.pid));
            socket->write(kQuitMessage);
            socket->flush();
            socket->disconnectFromServer();
        } else {
            // Started at the same moment as a newer copy, which may not have seen this one.
            socket->abort();
            if (!m_quitting) {
                m_quitting = true;
                m_log.info(QStringLiteral("a newer copy is running, pid %1; quitting").arg(other.pid));
                Q_EMIT quitRequested();
            }
        }
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::errorOccurred, this, [socket, path](QLocalSocket::LocalSocketError error) {
        if (error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError)
            QFile::remove(path); // left behind by a copy that did not quit cleanly
        socket->deleteLater();
    });
    socket->connectToServer(path);
}

void RunningCopies::onNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == kQuitMessage && !m_quitting) {
                m_quitting = true;
                m_log.info(QStringLiteral("a newer copy asked this one to quit"));
                Q_EMIT quitRequested();
            }
            socket->disconnectFromServer();
        });
    }
}
