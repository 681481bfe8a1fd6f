#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

namespace tarnwick {

struct GitHubAsset
{
    QString name;
    QUrl browserDownloadURL;
};

// One element of a repository's release list. Keys the service adds beyond these are ignored.
struct GitHubRelease
{
    QString tagName;
    bool prerelease = false;
    QList<GitHubAsset> assets;

    // The whole list, strictly: a body that is not a JSON array of releases, or a release or asset
    // missing one of its keys, throws DecodingError naming what is wrong.
    static QList<GitHubRelease> decodeList(const QByteArray& json);
};

} // namespace tarnwick
