#include "AppRelease.h"

#include "platform/DecodingError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarnwick {

namespace {

QJsonDocument parse(const QByteArray& json)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(QStringLiteral("The release feed's answer is not valid JSON: ") +
                            error.errorString());
    return document;
}

QJsonValue required(const QJsonObject& object, const QString& key, const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        throw DecodingError(QStringLiteral("Missing key \"%1\" in %2").arg(key, where));
    return value;
}

QString text(const QJsonObject& object, const QString& key, const QString& where)
{
    const QJsonValue value = required(object, key, where);
    if (!value.isString())
        throw DecodingError(QStringLiteral("Key \"%1\" in %2 is not a string").arg(key, where));
    return value.toString();
}

std::optional<QString> optionalText(const QJsonObject& object, const QString& key, const QString& where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        throw DecodingError(QStringLiteral("Key \"%1\" in %2 is not a string").arg(key, where));
    return value.toString();
}

AppRelease decodeRelease(const QJsonValue& value, const QString& where)
{
    if (!value.isObject())
        throw DecodingError(where + QStringLiteral(" is not an object"));
    const QJsonObject object = value.toObject();
    AppRelease release;
    release.tagName = text(object, QStringLiteral("tag_name"), where);
    // The service sends null for a release that was never given a title.
    release.name = optionalText(object, QStringLiteral("name"), where).value_or(QString());
    release.body = optionalText(object, QStringLiteral("body"), where);
    release.htmlUrl = text(object, QStringLiteral("html_url"), where);
    if (const std::optional<QString> date = optionalText(object, QStringLiteral("published_at"), where)) {
        const QDateTime parsed = QDateTime::fromString(*date, Qt::ISODate);
        if (!parsed.isValid())
            throw DecodingError(
                QStringLiteral("Key \"published_at\" in %1 is not an ISO 8601 date").arg(where));
        release.publishedAt = parsed;
    }
    const QJsonValue prerelease = required(object, QStringLiteral("prerelease"), where);
    if (!prerelease.isBool())
        throw DecodingError(QStringLiteral("Key \"prerelease\" in %1 is not a boolean").arg(where));
    release.prerelease = prerelease.toBool();
    const QJsonValue assets = required(object, QStringLiteral("assets"), where);
    if (!assets.isArray())
        throw DecodingError(QStringLiteral("Key \"assets\" in %1 is not an array").arg(where));
    const QJsonArray array = assets.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString assetWhere = QStringLiteral("asset %1 of %2").arg(i).arg(where);
        if (!array[i].isObject())
            throw DecodingError(assetWhere + QStringLiteral(" is not an object"));
        const QJsonObject asset = array[i].toObject();
        const QJsonValue size = required(asset, QStringLiteral("size"), assetWhere);
        if (!size.isDouble())
            throw DecodingError(QStringLiteral("Key \"size\" in %1 is not a number").arg(assetWhere));
        release.assets.append(AppReleaseAsset{text(asset, QStringLiteral("name"), assetWhere),
                                              text(asset, QStringLiteral("browser_download_url"), assetWhere),
                                              size.toInteger()});
    }
    return release;
}

} // namespace

AppRelease AppRelease::decode(const QByteArray& json)
{
    return decodeRelease(QJsonValue(parse(json).object()), QStringLiteral("the release"));
}

QList<AppRelease> AppRelease::decodeList(const QByteArray& json)
{
    const QJsonDocument document = parse(json);
    if (!document.isArray())
        throw DecodingError(QStringLiteral("The release list is not a JSON array"));
    QList<AppRelease> releases;
    const QJsonArray array = document.array();
    for (qsizetype i = 0; i < array.size(); ++i)
        releases.append(decodeRelease(array[i], QStringLiteral("release %1").arg(i)));
    return releases;
}

QString AppRelease::downloadURL() const
{
    for (const char* extension : {".zip", ".dmg"}) {
        for (const AppReleaseAsset& asset : assets) {
            if (asset.name.endsWith(QLatin1String(extension)))
                return asset.browserDownloadUrl;
        }
    }
    return htmlUrl;
}

} // namespace tarnwick
