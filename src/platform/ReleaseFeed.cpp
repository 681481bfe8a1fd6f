#include "ReleaseFeed.h"

#include "Settings.h"

namespace tarnwick::ReleaseFeed {

namespace {

QString nonEmpty(const Settings& settings, const QString& key, const QString& fallback)
{
    const QString value = settings.text(key, fallback).trimmed();
    return value.isEmpty() ? fallback : value;
}

} // namespace

QUrl apiBaseURL(const Settings& settings)
{
    return QUrl(nonEmpty(settings, apiBaseURLKey, defaultApiBaseURL));
}

QString smartRepository(const Settings& settings)
{
    return nonEmpty(settings, smartRepositoryKey, defaultSmartRepository);
}

QString appRepository(const Settings& settings)
{
    return nonEmpty(settings, appRepositoryKey, defaultAppRepository);
}

QUrl endpoint(const QUrl& apiBase, const QString& path, const QString& query)
{
    QUrl url = apiBase;
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    url.setQuery(query.isEmpty() ? QString() : query);
    return url;
}

} // namespace tarnwick::ReleaseFeed
