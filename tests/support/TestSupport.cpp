#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <utility>

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

QString placeKernel(const QString& kernel, const QString& workspace)
{
    const QString target = workspace + QStringLiteral("/core/versions/test/mihomo");
    const bool placed =
        QFileInfo::exists(target) || (QDir().mkpath(QFileInfo(target).path()) && QFile::copy(kernel, target));
    return placed ? target : QString();
}

QString asnMmdbPath()
{
    const QString path = cacheDir() + QStringLiteral("/geodata/ASN.mmdb");
    return QFileInfo(path).size() > 0 ? path : QString();
}

QByteArray gzipped(const QString& path)
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-1"), QStringLiteral("-c"), path});
    return gzip.waitForFinished(60000) && gzip.exitCode() == 0 ? gzip.readAllStandardOutput() : QByteArray();
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

bool isolateEnvironment(const QTemporaryDir& home)
{
    // Tests never touch the real user's files or desktop: a home and XDG directories of their own, no
    // session bus, and GSettings on a key file inside that home. The provisioned kernel and geodata stay
    // where the real home keeps them.
    const QString realHome = QDir::homePath();
    if (qEnvironmentVariableIsEmpty("TARNWICK_CACHE"))
        qputenv("TARNWICK_CACHE", QFile::encodeName(realHome + QStringLiteral("/.cache/tarnwick")));
    // So does Go's module cache, which holds the kernel's source.
    if (qEnvironmentVariableIsEmpty("GOPATH"))
        qputenv("GOPATH", QFile::encodeName(realHome + QStringLiteral("/go")));
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a temporary home: %s\n", qPrintable(home.errorString()));
        return false;
    }
    qputenv("HOME", QFile::encodeName(home.path()));
    const std::pair<const char*, const char*> directories[] = {{"XDG_CONFIG_HOME", ".config"},
                                                               {"XDG_DATA_HOME", ".local/share"},
                                                               {"XDG_STATE_HOME", ".local/state"},
                                                               {"XDG_CACHE_HOME", ".cache"},
                                                               {"XDG_RUNTIME_DIR", "run"}};
    for (const auto& [variable, relative] : directories) {
        const QString path = home.path() + QLatin1Char('/') + QLatin1String(relative);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(variable, QFile::encodeName(path));
    }
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_CURRENT_DESKTOP");
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qunsetenv("TARNWICK_SETTINGS");
    qunsetenv("TARNWICK_WORKSPACE");
    qunsetenv("TARNWICK_HELPER_SOCKET");

    return true;
}

} // namespace tarnwick::test
