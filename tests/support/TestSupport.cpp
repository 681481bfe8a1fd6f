#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>
#include <unistd.h>

namespace tarnwick::test {

namespace {
// Keep in step with scripts/provision-mihomo.sh.
constexpr auto kPinnedKernelVersion = "v1.19.30";

QString cacheDir()
{
    const QString overridden = qEnvironmentVariable("TARNWICK_CACHE");
    return overridden.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache/tarnwick") : overridden;
}
} // namespace

QString sourceDir()
{
    return QStringLiteral(TARNWICK_SOURCE_DIR);
}
QString binaryDir()
{
    return QStringLiteral(TARNWICK_BINARY_DIR);
}
QString sharedTestData()
{
    // Beside the checkout, or beside the directory that holds it (a worktree of it).
    const QString besideWorktree = QDir::cleanPath(sourceDir() + QStringLiteral("/../../shared/testdata"));
    const QString beside = QDir::cleanPath(sourceDir() + QStringLiteral("/../shared/testdata"));
    return QFileInfo::exists(beside) || !QFileInfo::exists(besideWorktree) ? beside : besideWorktree;
}
QString testData(const QString& relative)
{
    return sourceDir() + QStringLiteral("/tests/data/") + relative;
}

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "could not write " << path.toStdString();
}

bool underCI()
{
    return !qEnvironmentVariable("CI").isEmpty();
}

QString kernelPath()
{
    QString path = qEnvironmentVariable("TARNWICK_MIHOMO");
    if (path.isEmpty())
        path = cacheDir() + QStringLiteral("/mihomo-%1/mihomo").arg(QLatin1String(kPinnedKernelVersion));
    return QFileInfo(path).isExecutable() ? path : QString();
}

QString installKernel(const QString& kernel, const QString& workspace)
{
    const QString directory = workspace + QStringLiteral("/core/versions/test");
    const QString target = directory + QStringLiteral("/mihomo");
    if (QFileInfo::exists(target))
        return target;
    if (!QDir().mkpath(directory))
        return {};
    const bool linked =
        ::link(QFile::encodeName(kernel).constData(), QFile::encodeName(target).constData()) == 0;
    return linked || QFile::copy(kernel, target) ? target : QString();
}

QString countryMmdbPath()
{
    const QString path = cacheDir() + QStringLiteral("/geodata/Country.mmdb");
    return QFileInfo(path).size() > 0 ? path : QString();
}

bool installKernel(const QString& workspace)
{
    const QString kernel = kernelPath();
    const QString geodata = countryMmdbPath();
    const QString versionDirectory =
        workspace + QStringLiteral("/core/versions/") + QLatin1String(kPinnedKernelVersion);
    return !kernel.isEmpty() && !geodata.isEmpty() && QDir().mkpath(versionDirectory) &&
           QDir().mkpath(workspace + QStringLiteral("/work")) &&
           QFile::copy(kernel, versionDirectory + QStringLiteral("/mihomo")) &&
           QFile::link(QStringLiteral("versions/%1/mihomo").arg(QLatin1String(kPinnedKernelVersion)),
                       workspace + QStringLiteral("/core/current")) &&
           QFile::copy(geodata, workspace + QStringLiteral("/work/Country.mmdb"));
}

QString asnMmdbPath()
{
    const QString path = cacheDir() + QStringLiteral("/geodata/ASN.mmdb");
    return QFileInfo(path).size() > 0 ? path : QString();
}

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound)
{
    QDeadlineTimer deadline(bound);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

} // namespace tarnwick::test
