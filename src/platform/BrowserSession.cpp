#include "BrowserSession.h"

#include "MozLz4.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtEndian>

namespace tarnwick::BrowserSession {

namespace {

// The element a 1-based "selected" number points at, or the first.
QJsonObject selected(const QJsonArray& list, const QJsonValue& oneBased)
{
    const int index = oneBased.toInt(1) - 1;
    return list.at(index >= 0 && index < list.size() ? index : 0).toObject();
}

// Chromium's session commands this reader replays (session_service_commands.cc).
enum Command : quint8
{
    setTabWindow = 0,
    setTabIndexInWindow = 2,
    updateTabNavigation = 6,
    setSelectedNavigationIndex = 7,
    setSelectedTabInIndex = 8,
    setActiveWindow = 20,
};

qint32 int32At(const QByteArray& data, qsizetype offset)
{
    return offset + 4 <= data.size() ? qFromLittleEndian<qint32>(data.constData() + offset) : -1;
}

} // namespace

std::optional<QString> firefoxCurrentUrl(const QByteArray& json)
{
    const QJsonObject session = QJsonDocument::fromJson(json).object();
    const QJsonObject window = selected(session.value(QLatin1String("windows")).toArray(),
                                        session.value(QLatin1String("selectedWindow")));
    const QJsonObject tab =
        selected(window.value(QLatin1String("tabs")).toArray(), window.value(QLatin1String("selected")));
    const QJsonObject entry =
        selected(tab.value(QLatin1String("entries")).toArray(), tab.value(QLatin1String("index")));
    const QString url = entry.value(QLatin1String("url")).toString();
    return url.isEmpty() ? std::nullopt : std::optional<QString>(url);
}

std::optional<QString> chromiumCurrentUrl(const QByteArray& snss)
{
    if (!snss.startsWith("SNSS") || snss.size() < 8)
        return std::nullopt;
    QHash<qint32, qint32> tabWindow;
    QHash<qint32, qint32> tabIndex;
    QHash<qint32, qint32> selectedNavigation;
    QHash<qint32, qint32> selectedTab; // window → tab index
    QHash<QPair<qint32, qint32>, QString> navigations;
    qint32 activeWindow = -1;
    qint32 lastWindow = -1;
    QString lastUrl;
    qsizetype pos = 8;
    while (pos + 3 <= snss.size()) {
        const quint16 size = qFromLittleEndian<quint16>(snss.constData() + pos);
        if (size == 0 || pos + 2 + size > snss.size())
            break;
        const quint8 id = quint8(snss.at(pos + 2));
        const QByteArray payload = snss.mid(pos + 3, size - 1);
        pos += 2 + size;
        switch (id) {
        case setTabWindow:
            tabWindow.insert(int32At(payload, 4), int32At(payload, 0));
            break;
        case setTabIndexInWindow:
            tabIndex.insert(int32At(payload, 0), int32At(payload, 4));
            break;
        case setSelectedNavigationIndex:
            selectedNavigation.insert(int32At(payload, 0), int32At(payload, 4));
            break;
        case setSelectedTabInIndex:
            selectedTab.insert(int32At(payload, 0), int32At(payload, 4));
            lastWindow = int32At(payload, 0);
            break;
        case setActiveWindow:
            activeWindow = int32At(payload, 0);
            break;
        case updateTabNavigation: {
            // A pickle: its payload size, the tab, the navigation's index, the URL as length and bytes.
            const qint32 tab = int32At(payload, 4);
            const qint32 index = int32At(payload, 8);
            const qint32 length = int32At(payload, 12);
            if (length < 0 || 16 + qsizetype(length) > payload.size())
                break;
            lastUrl = QString::fromUtf8(payload.mid(16, length));
            navigations.insert({tab, index}, lastUrl);
            break;
        }
        default:
            break;
        }
    }
    const qint32 window = activeWindow >= 0 ? activeWindow : lastWindow;
    if (selectedTab.contains(window)) {
        for (auto it = tabWindow.cbegin(); it != tabWindow.cend(); ++it) {
            if (it.value() != window || tabIndex.value(it.key(), -1) != selectedTab.value(window))
                continue;
            const QString url = navigations.value({it.key(), selectedNavigation.value(it.key(), -1)});
            if (!url.isEmpty())
                return url;
        }
    }
    // Without a complete picture, the page navigated to last.
    return lastUrl.isEmpty() ? std::nullopt : std::optional<QString>(lastUrl);
}

std::optional<QString> firefoxProfileUrl(const QString& profileDirectory)
{
    for (const char* name : {"sessionstore-backups/recovery.jsonlz4", "sessionstore.jsonlz4"}) {
        QFile file(profileDirectory + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        if (const std::optional<QByteArray> json = MozLz4::decompress(file.readAll()))
            return firefoxCurrentUrl(*json);
    }
    return std::nullopt;
}

std::optional<QString> firefoxDefaultProfile(const QString& firefoxRoot)
{
    QSettings ini(firefoxRoot + QStringLiteral("/profiles.ini"), QSettings::IniFormat);
    const auto resolve = [&](const QString& path, bool relative) {
        return relative ? firefoxRoot + QLatin1Char('/') + path : path;
    };
    // The installation's own default ([Install…] Default=) wins over the profile marked Default=1.
    std::optional<QString> marked;
    for (const QString& group : ini.childGroups()) {
        ini.beginGroup(group);
        if (group.startsWith(QLatin1String("Install")) && ini.contains(QStringLiteral("Default"))) {
            const QString path = resolve(ini.value(QStringLiteral("Default")).toString(), true);
            ini.endGroup();
            return path;
        }
        if (group.startsWith(QLatin1String("Profile")) && ini.value(QStringLiteral("Default")).toInt() == 1)
            marked = resolve(ini.value(QStringLiteral("Path")).toString(),
                             ini.value(QStringLiteral("IsRelative")).toInt() == 1);
        ini.endGroup();
    }
    return marked;
}

QString chromiumSessionFile(const QString& profileDirectory)
{
    const QFileInfoList sessions = QDir(profileDirectory + QStringLiteral("/Sessions"))
                                       .entryInfoList({QStringLiteral("Session_*")}, QDir::Files, QDir::Time);
    if (!sessions.isEmpty())
        return sessions.first().filePath();
    const QString older = profileDirectory + QStringLiteral("/Current Session");
    return QFileInfo::exists(older) ? older : QString();
}

} // namespace tarnwick::BrowserSession
