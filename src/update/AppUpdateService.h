#pragma once

#include "AppUpdateResult.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace tarnwick {

class Settings;

// Checks the application's own release repository for a newer release: stable releases by version
// number, or the rolling alpha build by build number.
class AppUpdateService final
{
public:
    AppUpdateService(QNetworkAccessManager* network, QUrl apiBase, QString repoOwner, QString repoName);
    // The feed and repository ("update.repository", owner/name) from the settings.
    AppUpdateService(QNetworkAccessManager* network, const Settings& settings);

    const QString& repoOwner() const { return m_repoOwner; }
    const QString& repoName() const { return m_repoName; }

    // Throws AppUpdateError on a transport failure, DecodingError on a list it cannot read. An answer
    // other than HTTP 200 is "up to date" with no entries.
    QCoro::Task<AppUpdateResult> check(QString currentVersion, bool includeBeta) const;
    QCoro::Task<AppUpdateResult> checkAlpha(qint64 currentBuild) const;

    // -1, 0 or 1: base versions with numeric ordering of digit runs, then a version with a suffix
    // ("-beta.5") before the same one without, then the suffixes' numbers.
    static int compareVersions(const QString& a, const QString& b);

private:
    QCoro::Task<std::pair<int, QByteArray>> get(QString pathAndQuery) const;

    QNetworkAccessManager* m_network;
    QUrl m_apiBase;
    QString m_repoOwner;
    QString m_repoName;
};

} // namespace tarnwick
