#include "AppUpdateFlow.h"

#include "HelperClient.h"
#include "platform/Logging.h"
#include "platform/Settings.h"
#include "update/AppUpdateError.h"
#include "update/AppUpdateService.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QUuid>
#include <memory>
#include <qcoro/qcoronetworkreply.h>
#include <qcoro/qcoroprocess.h>
#include <unistd.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kDownloadSilence = 60s;
constexpr std::chrono::milliseconds kDownloadBound = 30min;
constexpr std::chrono::milliseconds kUnzipBound = 120s;

const QString kDownloadFailed = QStringLiteral("Download failed.");
const QString kExtractFailed = QStringLiteral("Failed to extract update package.");

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Runs unzip with a fixed argument list; its exit status (-1 when it could not run or crashed) and output.
QCoro::Task<std::pair<int, QByteArray>> unzip(QStringList arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    auto coroutine = qCoro(process);
    const QString program = QStringLiteral("/usr/bin/unzip");
    if (!co_await coroutine.start(program, arguments, QIODevice::ReadOnly, kUnzipBound))
        co_return std::pair{-1, QByteArray()};
    if (!co_await coroutine.waitForFinished(kUnzipBound)) {
        process.kill();
        process.waitForFinished(1000);
        co_return std::pair{-1, QByteArray()};
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    co_return std::pair{status, process.readAllStandardOutput()};
}

// An archive entry that would land outside the extraction directory.
bool escapes(const QString& entry)
{
    if (entry.startsWith(QLatin1Char('/')) || entry.startsWith(QLatin1Char('\\')))
        return true;
    const QStringList parts =
        QString(entry).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    return parts.contains(QStringLiteral(".."));
}

} // namespace

AppUpdateFlow::AppUpdateFlow(Settings& settings, HelperClient& helper, AppBundle bundle, Hooks hooks,
                             QObject* parent)
    : QObject(parent), m_settings(settings), m_helper(helper), m_bundle(std::move(bundle)),
      m_hooks(std::move(hooks))
{}

void AppUpdateFlow::setPhase(const AppUpdatePhase& phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged();
}

QCoro::Task<> AppUpdateFlow::check(bool automatic)
{
    if (automatic) {
        const std::optional<QDateTime> last = m_settings.date(lastCheckKey);
        if (last && last->secsTo(QDateTime::currentDateTimeUtc()) < automaticCheckInterval.count())
            co_return;
    }
    QPointer<AppUpdateFlow> self(this);
    setPhase(AppUpdatePhase::of(AppUpdatePhase::Kind::checking));
    if (!automatic)
        Q_EMIT updateWindowRequested();
    const AppUpdateService service(&m_network, m_settings);
    try {
        AppUpdateResult result;
        if (m_settings.boolean(includeAlphaKey, false))
            result = co_await service.checkAlpha(m_bundle.build());
        else
            result = co_await service.check(m_bundle.shortVersion(), false);
        if (!self)
            co_return;
        m_settings.setDate(lastCheckKey, QDateTime::currentDateTimeUtc());
        setPhase(AppUpdatePhase::withResult(std::move(result)));
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        m_settings.setDate(lastCheckKey, QDateTime::currentDateTimeUtc());
        setPhase(AppUpdatePhase::failed(describe(error)));
    }
}

QCoro::Task<> AppUpdateFlow::performUpdate(QString downloadURL)
{
    const QUrl url(downloadURL, QUrl::StrictMode);
    if (downloadURL.isEmpty() || !url.isValid() || url.isRelative()) {
        setPhase(AppUpdatePhase::failed(QStringLiteral("Invalid download URL")));
        co_return;
    }
    if (!m_bundle.isInApplicationsFolder(QDir::homePath())) {
        setPhase(AppUpdatePhase::failed(
            QStringLiteral("Please move Tarnwick to the Applications folder before updating.")));
        co_return;
    }
    QPointer<AppUpdateFlow> self(this);
    m_isUpdating = true;
    try {
        setPhase(AppUpdatePhase::downloading(0, 0, 0));
        const QString archive = co_await download(url);
        if (!self)
            co_return;
        setPhase(AppUpdatePhase::installing(QCoreApplication::translate("AppUpdate", "Extracting...")));
        const QString directory = co_await extract(archive);
        if (!self)
            co_return;
        const QStringList entries = QDir(directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        const auto found = std::find_if(entries.cbegin(), entries.cend(), [&](const QString& name) {
            return AppBundle::isBundle(directory + QLatin1Char('/') + name);
        });
        if (found == entries.cend())
            throw AppUpdateError(QStringLiteral("App bundle not found in update package."));

        setPhase(AppUpdatePhase::installing(QCoreApplication::translate("AppUpdate", "Installing...")));
        const QString source = directory + QLatin1Char('/') + *found;
        const QString target = m_bundle.path();
        co_await m_helper.installUpdate(source, target);
        if (!self)
            co_return;
        QDir(directory).removeRecursively();
        QFile::remove(archive);
        setPhase(AppUpdatePhase::installing(QCoreApplication::translate("AppUpdate", "Restarting...")));
        co_await cleanupAndRelaunch();
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        qCWarning(lcAppState, "Application update failed: %s", qUtf8Printable(describe(error)));
        m_isUpdating = false;
        setPhase(AppUpdatePhase::failed(describe(error)));
    }
}

QCoro::Task<QString> AppUpdateFlow::download(QUrl url)
{
    const QString suffix = QFileInfo(url.path()).suffix();
    const QString path =
        QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('.') +
                              (suffix.isEmpty() ? QStringLiteral("zip") : suffix));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AppUpdateError(kDownloadFailed);
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(kDownloadSilence.count()));
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_downloadNetwork.get(request), [](QNetworkReply* r) { r->deleteLater(); });
    QNetworkReply* raw = reply.get();
    QSaveFile* target = &file;
    QPointer<AppUpdateFlow> self(this);
    connect(raw, &QNetworkReply::readyRead, raw, [raw, target] { target->write(raw->readAll()); });
    connect(raw, &QNetworkReply::downloadProgress, this, [self](qint64 received, qint64 total) {
        if (self && total > 0)
            self->setPhase(AppUpdatePhase::downloading(double(received) / double(total), received, total));
    });
    co_await qCoro(raw).waitForFinished(kDownloadBound);
    if (raw->isRunning())
        raw->abort();
    const int status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (raw->error() != QNetworkReply::NoError && status == 0)
        throw AppUpdateError(raw->errorString());
    file.write(raw->readAll());
    if (status < 200 || status > 299 || raw->error() != QNetworkReply::NoError || !file.commit())
        throw AppUpdateError(kDownloadFailed);
    co_return path;
}

QCoro::Task<QString> AppUpdateFlow::extract(QString archive)
{
    // unzip drops "../" from names itself; an archive that tries is refused whole all the same.
    const QStringList listArguments{QStringLiteral("-Z1"), archive};
    const auto [listStatus, listing] = co_await unzip(listArguments);
    if (listStatus != 0)
        throw AppUpdateError(kExtractFailed);
    for (const QByteArray& entry : listing.split('\n')) {
        if (escapes(QString::fromUtf8(entry.trimmed())))
            throw AppUpdateError(kExtractFailed);
    }
    const QString directory = QDir::temp().filePath(QStringLiteral("Tarnwick_Update_") +
                                                    QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (!QDir().mkpath(directory))
        throw AppUpdateError(kExtractFailed);
    const QStringList arguments{QStringLiteral("-q"), archive, QStringLiteral("-d"), directory};
    const auto [status, output] = co_await unzip(arguments);
    if (status != 0)
        throw AppUpdateError(kExtractFailed);
    // Nor may a link inside point outside it.
    const QString root = QFileInfo(directory).canonicalFilePath() + QLatin1Char('/');
    QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() && !QFileInfo(info.symLinkTarget()).absoluteFilePath().startsWith(root))
            throw AppUpdateError(kExtractFailed);
    }
    co_return directory;
}

QCoro::Task<> AppUpdateFlow::cleanupAndRelaunch()
{
    qCInfo(lcAppState, "OTA: cleanup started");
    if (m_hooks.cleanup)
        co_await m_hooks.cleanup();
    // The helper that runs is the old bundle's; the new application is to find the new one.
    try {
        co_await m_helper.exitForUpdate();
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "OTA: the helper did not exit: %s", qUtf8Printable(describe(error)));
    }
    QStringList command{shellQuoted(m_bundle.executable())};
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        command.append(shellQuoted(argument));
    const QString script =
        QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 0.2; done\nsleep 0.5\nexec %2")
            .arg(::getpid())
            .arg(command.join(QLatin1Char(' ')));
    const QStringList arguments{QStringLiteral("-c"), script};
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), arguments))
        throw AppUpdateError(QStringLiteral("Could not start the relaunch"));
    qCInfo(lcAppState, "OTA: exit → relaunch %s", qUtf8Printable(m_bundle.path()));
    if (m_hooks.terminate)
        m_hooks.terminate();
}

} // namespace tarnwick
