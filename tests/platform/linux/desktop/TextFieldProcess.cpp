#include "TextFieldProcess.h"

#include <QJsonDocument>
#include <QTest>

TextFieldProcess::TextFieldProcess(const QStringList& arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A wrapper that runs the tests as another user hands over a copy it can run.
    m_process.start(qEnvironmentVariable("VELL_TEXTFIELD", QStringLiteral(VELL_TEXTFIELD)), arguments);
    m_process.waitForStarted(5000);
}

TextFieldProcess::~TextFieldProcess()
{
    // Closing its input ends the field; failing that it is killed by its PID.
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

QJsonObject TextFieldProcess::send(const QJsonObject& command)
{
    m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    if (!QTest::qWaitFor([this] { return m_process.canReadLine(); }, 5000))
        return {};
    return QJsonDocument::fromJson(m_process.readLine()).object();
}

void TextFieldProcess::set(const QString& text, int cursor)
{
    send({{QStringLiteral("do"), QStringLiteral("set")},
          {QStringLiteral("text"), text},
          {QStringLiteral("cursor"), cursor}});
}

void TextFieldProcess::copy(const QString& text, const QByteArray& png)
{
    send({{QStringLiteral("do"), QStringLiteral("copy")},
          {QStringLiteral("text"), text},
          {QStringLiteral("png"), QString::fromLatin1(png.toBase64())}});
}
