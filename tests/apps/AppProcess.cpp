#include "AppProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

#include <signal.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kQuitLimit = 10s;

struct ProcessStatus
{
    qint64 parent = 0;
    bool exited = true; // gone, or a zombie nobody has reaped yet
};

ProcessStatus statusOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    // The name in parentheses may hold spaces; the fields after it do not.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2)
        return {};
    return {fields[1].toLongLong(), fields[0] == "Z" || fields[0] == "X"};
}

// `root` and every live process below it, parents before children.
QList<qint64> processTree(qint64 root)
{
    QList<qint64> tree{root};
    const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (const QString& entry : all) {
            bool isPid = false;
            const qint64 pid = entry.toLongLong(&isPid);
            const ProcessStatus status = isPid ? statusOf(pid) : ProcessStatus{};
            if (!status.exited && status.parent == tree[i])
                tree.append(pid);
        }
    return tree;
}

} // namespace

AppProcess::AppProcess(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                       const QString& log)
{
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(log);
    m_process.setStandardErrorFile(log, QIODevice::Append);
    m_process.start(program, arguments);
    m_process.waitForStarted();
}

AppProcess::~AppProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const QList<qint64> tree = processTree(m_process.processId());
    for (const qint64 pid : tree)
        ::kill(pid_t(pid), SIGTERM);
    const auto allExited = [&] {
        for (const qint64 pid : tree)
            if (!statusOf(pid).exited)
                return false;
        return true;
    };
    if (!QTest::qWaitFor(allExited, int(kQuitLimit.count())))
        for (const qint64 pid : tree)
            if (!statusOf(pid).exited)
                ::kill(pid_t(pid), SIGKILL);
    m_process.waitForFinished(int(kQuitLimit.count()));
}
