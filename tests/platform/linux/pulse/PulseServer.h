#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The private sound server that with-pulseaudio started, driven through
// pactl. Modules loaded here are unloaded when the object goes.
class PulseServer
{
public:
    PulseServer() = default;
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;
    ~PulseServer();

    // pactl's output; an empty string when it failed (and a test failure).
    static QString pactl(const QStringList& arguments);
    static QJsonArray list(const QString& what); // "sink-inputs", "source-outputs", …

    // A clocked virtual microphone `name`, fed by playing into `name`_uplink.
    void addMicrophone(const QString& name, const QString& description, bool builtIn = false);
    void removeMicrophone(const QString& name);

    // A WAV file of espeak-ng speaking a sentence, made once.
    QString speechFile();

private:
    struct Module
    {
        QString microphone;
        QString id;
    };

    QList<Module> m_modules;
    QTemporaryDir m_folder;
    QString m_speech;
};
