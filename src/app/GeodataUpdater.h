#pragma once

#include "config/ClashPaths.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace tarnwick {

class Settings;

// Brings the geodata files the kernel and the GeoIP lookups read (GeoIP.dat, GeoSite.dat, Country.mmdb,
// ASN.mmdb, Model.bin) into the work directory from the URLs of the settings. A file is replaced only by a
// complete body (its announced length received) and an .mmdb only by one that opens; a present .mmdb that
// does not open counts as missing. A file whose download failed is tried again a day later at the
// earliest, and one run reports its failures in one line.
class GeodataUpdater final : public QObject
{
    Q_OBJECT

public:
    GeodataUpdater(ClashPaths paths, Settings& settings, QNetworkAccessManager* network,
                   std::chrono::seconds retryAfter = std::chrono::hours(24), QObject* parent = nullptr);

    QCoro::Task<> run();

    static constexpr std::chrono::milliseconds transferTimeout{120000};

    // Whether the file is a MaxMind database that opens.
    static bool isUsableDatabase(const QString& path);

private:
    // The reason the download failed, or nothing when the file is in place.
    QCoro::Task<std::optional<QString>> fetch(QString target, QString url);
    QString attemptsFile() const;

    ClashPaths m_paths;
    Settings& m_settings;
    QNetworkAccessManager* m_network;
    std::chrono::seconds m_retryAfter;
};

} // namespace tarnwick
