#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>

// The test text field (tests/support/textfield) running in a process of its
// own, driven over its standard input and output.
class TextFieldProcess
{
public:
    explicit TextFieldProcess(const QStringList& arguments = {});
    ~TextFieldProcess();

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint32 pid() const { return qint32(m_process.processId()); }

    // Sends one command and returns the answer; empty when none came.
    QJsonObject send(const QJsonObject& command);

    QString text()
    {
        return send({{QStringLiteral("do"), QStringLiteral("state")}}).value(QStringLiteral("text")).toString();
    }
    void set(const QString& text, int cursor);
    void activate() { send({{QStringLiteral("do"), QStringLiteral("activate")}}); }
    void copy(const QString& text, const QByteArray& png = {});
    // What the field sees on the clipboard: formats, text and image width.
    QJsonObject clipboard() { return send({{QStringLiteral("do"), QStringLiteral("clipboard")}}); }
    void grabKeyboard() { send({{QStringLiteral("do"), QStringLiteral("grab")}}); }
    void releaseKeyboard() { send({{QStringLiteral("do"), QStringLiteral("ungrab")}}); }

private:
    QProcess m_process;
};
