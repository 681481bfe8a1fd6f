#include "OrphanKernels.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <qcoro/qcorotimer.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::OrphanKernels {

namespace {

using namespace std::chrono_literals;

// After SIGKILL there is nothing left for a kernel to do but go.
constexpr auto kGoneBound = 2s;
constexpr auto kPollInterval = 20ms;

QList<QByteArray> commandLineOf(const QString& processDirectory)
{
    QFile file(processDirectory + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    if (text.endsWith('\0'))
        text.chop(1);
    return text.isEmpty() ? QList<QByteArray>() : text.split('\0');
}

bool runsOn(const QList<QByteArray>& arguments, const QString& workDirectory)
{
    if (arguments.contains("-t"))
        return false;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "-d" && QDir::cleanPath(QFile::decodeName(arguments[i + 1])) == workDirectory)
            return true;
    }
    return false;
}

// A killed process stays a zombie until its parent reaps it; it no longer runs.
bool gone(qint32 pid)
{
    return commandLineOf(QStringLiteral("/proc/%1").arg(pid)).isEmpty();
}

} // namespace

QList<qint32> find(const QString& workDirectory, uid_t user)
{
    const QString work = QDir::cleanPath(workDirectory);
    QList<qint32> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint32 pid = entry.toInt(&numeric);
        if (!numeric || pid == ::getpid())
            continue;
        const QString directory = QStringLiteral("/proc/") + entry;
        struct stat info
        {};
        if (::stat(QFile::encodeName(directory).constData(), &info) != 0 || info.st_uid != user)
            continue;
        if (runsOn(commandLineOf(directory), work))
            found.append(pid);
    }
    return found;
}

QCoro::Task<QList<qint32>> stop(QString workDirectory)
{
    const QList<qint32> orphans = find(workDirectory, ::getuid());
    for (const qint32 pid : orphans)
        ::kill(pid, SIGKILL);
    const QDeadlineTimer deadline(kGoneBound);
    const auto allGone = [&] { return std::all_of(orphans.begin(), orphans.end(), gone); };
    while (!allGone() && !deadline.hasExpired())
        co_await QCoro::sleepFor(kPollInterval);
    co_return orphans;
}

} // namespace tarnwick::OrphanKernels
