#include "GeodataUpdater.h"

#include "config/AtomicFile.h"
#include "config/EngineSettings.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QCoro/QCoroNetworkReply>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <cerrno>
#include <cstdio>
#include <maxminddb.h>
#include <memory>

namespace tarnwick {

namespace {

using namespace std::chrono_literals;

// Geodata files of the work directory and the settings key holding each one's URL.
constexpr std::pair<const char*, const char*> kGeodataFiles[] = {
    {"GeoIP.dat", "geoxGeoIP"}, {"GeoSite.dat", "geoxGeoSite"}, {"Country.mmdb", "geoxMMDB"},
    {"ASN.mmdb", "geoxASN"},    {"Model.bin", "geoxModelBin"},
};

bool isDatabaseName(const QString& path)
{
    return path.endsWith(QLatin1String(".mmdb"));
}

} // namespace

GeodataUpdater::GeodataUpdater(ClashPaths paths, Settings& settings, QNetworkAccessManager* network,
                               std::chrono::seconds retryAfter, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_settings(settings), m_network(network),
      m_retryAfter(retryAfter)
{}

bool GeodataUpdater::isUsableDatabase(const QString& path)
{
    MMDB_s database;
    if (MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, &database) != MMDB_SUCCESS)
        return false;
    MMDB_close(&database);
    return true;
}

QString GeodataUpdater::attemptsFile() const
{
    return m_paths.workDirectory() + QStringLiteral("geodata-attempts.json");
}

QCoro::Task<> GeodataUpdater::run()
{
    QPointer<GeodataUpdater> self(this);
    // File name -> when its last download failed.
    QJsonObject attempts;
    if (QFile file(attemptsFile()); file.open(QIODevice::ReadOnly))
        attempts = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonObject attemptsBefore = attempts;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList failed;
    QString firstReason;
    for (const auto& [fileName, key] : kGeodataFiles) {
        const QString name = QString::fromLatin1(fileName);
        const QString target = m_paths.workDirectory() + name;
        if (QFileInfo::exists(target) && (!isDatabaseName(name) || isUsableDatabase(target)))
            continue;
        const QDateTime lastFailure = QDateTime::fromString(attempts.value(name).toString(), Qt::ISODate);
        if (lastFailure.isValid() && lastFailure.secsTo(now) < m_retryAfter.count() && lastFailure <= now)
            continue;
        const EngineSettings::Setting* setting = EngineSettings::find(QString::fromLatin1(key));
        const QString url =
            m_settings.text(QString::fromLatin1(key), QString::fromUtf8(setting->defaultValue));
        const std::optional<QString> reason = co_await fetch(target, url);
        if (!self)
            co_return;
        if (!reason) {
            attempts.remove(name);
            continue;
        }
        attempts.insert(name, now.toString(Qt::ISODate));
        failed.append(name);
        if (firstReason.isEmpty())
            firstReason = *reason;
    }
    if (!failed.isEmpty())
        qCWarning(
            lcAppState, "Geodata download failed for %s: %s; the next try is in %lld hours at the earliest",
            qUtf8Printable(failed.join(QStringLiteral(", "))), qUtf8Printable(firstReason),
            static_cast<long long>(std::chrono::duration_cast<std::chrono::hours>(m_retryAfter).count()));
    if (attempts == attemptsBefore)
        co_return;
    try {
        AtomicFile::write(attemptsFile(), QJsonDocument(attempts).toJson());
    } catch (const std::exception& error) {
        qCWarning(lcAppState, "Geodata attempts not saved: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<std::optional<QString>> GeodataUpdater::fetch(QString target, QString url)
{
    QPointer<GeodataUpdater> self(this);
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(static_cast<int>(transferTimeout.count()));
    const std::unique_ptr<QNetworkReply> reply(m_network->get(request));
    co_await qCoro(reply.get()).waitForFinished(transferTimeout + 5s);
    if (!self)
        co_return QStringLiteral("stopped");
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError && status == 0)
        co_return reply->errorString();
    if (status != 200)
        co_return QStringLiteral("HTTP status %1").arg(status);
    // A body cut short (a reset or a time-out after the headers) is never committed.
    if (reply->error() != QNetworkReply::NoError)
        co_return reply->errorString();
    const QByteArray body = reply->readAll();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != body.size())
        co_return QStringLiteral("%1 of %2 bytes received").arg(body.size()).arg(announced.toLongLong());

    // Written beside the target and checked there, so that only a whole, usable file replaces anything.
    const QString partial = target + QStringLiteral(".part");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(body) != body.size() ||
        !file.flush()) {
        const QString error = file.errorString();
        file.remove();
        co_return error;
    }
    file.close();
    if (isDatabaseName(target) && !isUsableDatabase(partial)) {
        QFile::remove(partial);
        co_return QStringLiteral("not a MaxMind database");
    }
    if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString error = qt_error_string(errno);
        QFile::remove(partial);
        co_return error;
    }
    co_return std::nullopt;
}

} // namespace tarnwick
