#pragma once

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <chrono>
#include <optional>

// Small probes of a private desktop for the tests that run the real program:
// polling, helper programs, and the sound server's streams.
namespace DesktopProbes {

// Polls, letting the event loop run in between; a gentle pace, as the checks
// start helper programs or ask other processes.
template <typename Predicate> bool eventually(Predicate predicate, std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

// A helper program's standard output; absent when it failed or took too long.
inline std::optional<QByteArray> run(const QString& program, const QStringList& arguments,
                                     std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(int(limit.count()))) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// `pactl list short <what>`, one row of fields a line.
inline QList<QByteArrayList> pactlRows(const QString& what)
{
    QList<QByteArrayList> rows;
    const std::optional<QByteArray> listing =
        run(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), what});
    if (listing)
        for (const QByteArray& line : listing->split('\n'))
            if (!line.isEmpty())
                rows.append(line.split('\t'));
    return rows;
}

// The index of the source named `name`; empty when there is none.
inline QByteArray sourceIndex(const QString& name)
{
    for (const QByteArrayList& row : pactlRows(QStringLiteral("sources")))
        if (row.size() > 1 && row[1] == name.toUtf8())
            return row[0];
    return {};
}

} // namespace DesktopProbes
