#include "platform/linux/CompositorWorkspace.h"

#include "storage/VellLog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QtEndian>

#include <cstring>

namespace {

// sway's IPC: "i3-ipc", then the payload's length and the message type, both
// 32-bit in the machine's byte order, then the payload.
constexpr char kSwayMagic[] = "i3-ipc";
constexpr qsizetype kSwayHeader = 6 + 4 + 4;
constexpr quint32 kSwayGetTree = 4;

QByteArray swayRequest(quint32 type)
{
    QByteArray message(kSwayMagic, 6);
    const quint32 length = 0;
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    return message;
}

bool readExactly(QLocalSocket& socket, QByteArray& into, qsizetype size, const QDeadlineTimer& deadline)
{
    while (into.size() < size) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        into += socket.read(size - into.size());
    }
    return true;
}

std::optional<QByteArray> swayExchange(QLocalSocket& socket, const QDeadlineTimer& deadline)
{
    socket.write(swayRequest(kSwayGetTree));
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return std::nullopt;
    QByteArray header;
    if (!readExactly(socket, header, kSwayHeader, deadline) || !header.startsWith(kSwayMagic))
        return std::nullopt;
    quint32 length = 0;
    std::memcpy(&length, header.constData() + 6, 4);
    QByteArray payload;
    if (!readExactly(socket, payload, qsizetype(length), deadline))
        return std::nullopt;
    return payload;
}

std::optional<QByteArray> hyprlandExchange(QLocalSocket& socket, const QDeadlineTimer& deadline)
{
    // One request per connection; the answer ends when the compositor closes it.
    socket.write("j/activewindow");
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return std::nullopt;
    QByteArray reply;
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        reply += socket.readAll();
    }
    reply += socket.readAll();
    if (socket.state() == QLocalSocket::ConnectedState)
        return std::nullopt; // not finished in time
    return reply;
}

std::optional<QJsonObject> focusedNode(const QJsonObject& node)
{
    if (node.value(QStringLiteral("focused")).toBool())
        return node;
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(QLatin1String(children)).toArray())
            if (std::optional<QJsonObject> found = focusedNode(child.toObject()))
                return found;
    return std::nullopt;
}

std::optional<QString> nonEmpty(const QJsonValue& value)
{
    const QString text = value.toString();
    return text.isEmpty() ? std::nullopt : std::optional(text);
}

} // namespace

CompositorWorkspace::CompositorWorkspace(Ipc ipc, QString socketPath) : m_ipc(ipc), m_socketPath(std::move(socketPath))
{}

std::optional<CompositorWorkspace> CompositorWorkspace::forSway()
{
    const QString socket = qEnvironmentVariable("SWAYSOCK");
    if (socket.isEmpty())
        return std::nullopt;
    return CompositorWorkspace(Ipc::sway, socket);
}

std::optional<CompositorWorkspace> CompositorWorkspace::forHyprland()
{
    const QString signature = qEnvironmentVariable("HYPRLAND_INSTANCE_SIGNATURE");
    if (signature.isEmpty() || signature.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    for (const QString& folder : {runtime + QStringLiteral("/hypr/"), QStringLiteral("/tmp/hypr/")}) {
        const QString socket = folder + signature + QStringLiteral("/.socket.sock");
        if (QFileInfo::exists(socket))
            return CompositorWorkspace(Ipc::hyprland, socket);
    }
    return std::nullopt;
}

std::optional<RunningApplication> CompositorWorkspace::frontmostApplication()
{
    const std::optional<QByteArray> reply = ask();
    if (!reply)
        return std::nullopt;
    return m_ipc == Ipc::sway ? focusedInSwayTree(*reply) : activeHyprlandWindow(*reply);
}

std::optional<QByteArray> CompositorWorkspace::ask() const
{
    const QDeadlineTimer deadline(kDeadline);
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        VellLog::insert().info(QStringLiteral("The compositor's IPC socket doesn't answer"));
        return std::nullopt;
    }
    std::optional<QByteArray> reply =
        m_ipc == Ipc::sway ? swayExchange(socket, deadline) : hyprlandExchange(socket, deadline);
    if (!reply)
        VellLog::insert().info(QStringLiteral("The compositor's IPC didn't answer in time"));
    return reply;
}

std::optional<RunningApplication> CompositorWorkspace::focusedInSwayTree(const QByteArray& json)
{
    const std::optional<QJsonObject> node = focusedNode(QJsonDocument::fromJson(json).object());
    // A focused workspace or output is no application.
    if (!node || !node->contains(QStringLiteral("pid")))
        return std::nullopt;
    RunningApplication application;
    application.pid = qint32(node->value(QStringLiteral("pid")).toInteger());
    // A native window names itself by app_id; an X11 one through XWayland by its class.
    application.windowClass = nonEmpty(node->value(QStringLiteral("app_id")));
    if (!application.windowClass)
        application.windowClass =
            nonEmpty(node->value(QStringLiteral("window_properties")).toObject().value(QStringLiteral("class")));
    // The class names the application; a title would name the document and carry its content.
    application.name = application.windowClass;
    return application;
}

std::optional<RunningApplication> CompositorWorkspace::activeHyprlandWindow(const QByteArray& json)
{
    const QJsonObject window = QJsonDocument::fromJson(json).object();
    if (!window.contains(QStringLiteral("pid")))
        return std::nullopt; // "{}" when nothing is focused
    RunningApplication application;
    application.pid = qint32(window.value(QStringLiteral("pid")).toInteger());
    application.windowClass = nonEmpty(window.value(QStringLiteral("class")));
    application.name = application.windowClass;
    return application;
}
