#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

struct AppReleaseAsset
{
    QString name;
    QString browserDownloadUrl;
    qint64 size = 0;
};

// One release of the application's own repository, as the release feed describes it.
struct AppRelease
{
    QString tagName;
    QString name;
    std::optional<QString> body;
    QString htmlUrl;
    std::optional<QDateTime> publishedAt;
    bool prerelease = false;
    QList<AppReleaseAsset> assets;

    // Throw DecodingError naming the missing or mistyped key.
    static AppRelease decode(const QByteArray& json);
    static QList<AppRelease> decodeList(const QByteArray& json);

    // What to download: the first ".zip" asset, else the first ".dmg", else the release's page.
    QString downloadURL() const;
};

} // namespace tarnwick
