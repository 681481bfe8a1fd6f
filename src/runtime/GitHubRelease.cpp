#include "GitHubRelease.h"

#include "platform/DecodingError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarnwick {

namespace {

QJsonValue required(const QJsonObject& object, const QString& key, const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        throw DecodingError(QStringLiteral("Missing key \"%1\" in %2").arg(key, where));
    return value;
}

QString requiredText(const QJsonObject& object, const QString& key, const QString& where)
{
    const QJsonValue value = required(object, key, where);
    if (!value.isString())
        throw DecodingError(QStringLiteral("Key \"%1\" in %2 is not a string").arg(key, where));
    return value.toString();
}

GitHubAsset decodeAsset(const QJsonValue& value, const QString& where)
{
    if (!value.isObject())
        throw DecodingError(where + QStringLiteral(" is not an object"));
    const QJsonObject object = value.toObject();
    GitHubAsset asset;
    asset.name = requiredText(object, QStringLiteral("name"), where);
    const QString url = requiredText(object, QStringLiteral("browser_download_url"), where);
    asset.browserDownloadURL = QUrl(url, QUrl::StrictMode);
    if (!asset.browserDownloadURL.isValid() || asset.browserDownloadURL.isRelative())
        throw DecodingError(QStringLiteral("Invalid URL \"%1\" in %2").arg(url, where));
    return asset;
}

} // namespace

QList<GitHubRelease> GitHubRelease::decodeList(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw DecodingError(QStringLiteral("The release list is not valid JSON: ") +
                            parseError.errorString());
    if (!document.isArray())
        throw DecodingError(QStringLiteral("The release list is not a JSON array"));

    QList<GitHubRelease> releases;
    const QJsonArray array = document.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("release %1").arg(i);
        if (!array[i].isObject())
            throw DecodingError(where + QStringLiteral(" is not an object"));
        const QJsonObject object = array[i].toObject();
        GitHubRelease release;
        release.tagName = requiredText(object, QStringLiteral("tag_name"), where);
        const QJsonValue prerelease = required(object, QStringLiteral("prerelease"), where);
        if (!prerelease.isBool())
            throw DecodingError(QStringLiteral("Key \"prerelease\" in %1 is not a boolean").arg(where));
        release.prerelease = prerelease.toBool();
        const QJsonValue assets = required(object, QStringLiteral("assets"), where);
        if (!assets.isArray())
            throw DecodingError(QStringLiteral("Key \"assets\" in %1 is not an array").arg(where));
        const QJsonArray assetArray = assets.toArray();
        for (qsizetype j = 0; j < assetArray.size(); ++j)
            release.assets.append(
                decodeAsset(assetArray[j], QStringLiteral("asset %1 of %2").arg(j).arg(where)));
        releases.append(std::move(release));
    }
    return releases;
}

} // namespace tarnwick
