#include "SubscriptionInfo.h"

#include <QList>
#include <QString>

namespace tarnwick {

std::optional<SubscriptionInfo> SubscriptionInfo::fromHeader(QStringView header)
{
    SubscriptionInfo info;
    bool any = false;
    for (QStringView part : header.split(u';')) {
        const auto pieces = part.trimmed().split(u'=');
        if (pieces.size() != 2)
            continue;
        const QString key = pieces[0].trimmed().toString().toLower();
        bool ok = false;
        const qint64 value = pieces[1].trimmed().toLongLong(&ok, 10);
        if (!ok)
            continue;
        qint64* field = key == QLatin1String("upload")     ? &info.upload
                        : key == QLatin1String("download") ? &info.download
                        : key == QLatin1String("total")    ? &info.total
                        : key == QLatin1String("expire")   ? &info.expire
                                                           : nullptr;
        if (!field)
            continue;
        *field = value;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return info;
}

} // namespace tarnwick
