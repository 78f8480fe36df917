#include "PulseServer.h"

#include <QJsonDocument>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << qPrintable(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')))
                      << " failed: " << process.readAllStandardError().constData();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

PulseServer::~PulseServer()
{
    for (auto module = m_modules.crbegin(); module != m_modules.crend(); ++module)
        run(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module->id});
}

QString PulseServer::pactl(const QStringList& arguments)
{
    return run(QStringLiteral("pactl"), arguments);
}

QJsonArray PulseServer::list(const QString& what)
{
    return QJsonDocument::fromJson(pactl({QStringLiteral("--format=json"), QStringLiteral("list"), what}).toUtf8())
        .array();
}

void PulseServer::addMicrophone(const QString& name, const QString& description, bool builtIn)
{
    const QString raw = name + QStringLiteral("_raw");
    m_modules.append({name, pactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                                   QStringLiteral("source_name=") + raw, QStringLiteral("rate=48000"),
                                   QStringLiteral("channels=1"), QStringLiteral("max_latency_msec=20")})});
    QString properties = QStringLiteral("device.description='%1'").arg(description);
    if (builtIn)
        properties += QStringLiteral(" device.form_factor=internal device.bus=pci device.class=sound");
    m_modules.append({name, pactl({QStringLiteral("load-module"), QStringLiteral("module-virtual-source"),
                                   QStringLiteral("source_name=") + name, QStringLiteral("master=") + raw,
                                   QStringLiteral("uplink_sink=") + name + QStringLiteral("_uplink"),
                                   QStringLiteral("source_properties=\"%1\"").arg(properties)})});
}

void PulseServer::removeMicrophone(const QString& name)
{
    for (auto module = m_modules.size() - 1; module >= 0; --module) {
        if (m_modules[module].microphone != name)
            continue;
        pactl({QStringLiteral("unload-module"), m_modules[module].id});
        m_modules.removeAt(module);
    }
}

QString PulseServer::speechFile()
{
    if (m_speech.isEmpty()) {
        const QString path = m_folder.filePath(QStringLiteral("speech.wav"));
        run(QStringLiteral("espeak-ng"),
            {QStringLiteral("-w"), path, QStringLiteral("Please write this sentence down for me, thank you.")});
        m_speech = path;
    }
    return m_speech;
}
