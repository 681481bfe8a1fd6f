#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace tarnwick {

// One line of the release history shown to the user.
struct ReleaseEntry
{
    QString id; // the tag
    QString version;
    QDateTime publishedAt;
    QString body;
    bool isCurrentVersion = false;

    bool operator==(const ReleaseEntry& other) const = default;
};

// What an application update check found; shared by the update window, the menu and the control socket.
struct AppUpdateResult
{
    enum class Kind
    {
        upToDate,
        available,
    };

    Kind kind = Kind::upToDate;
    QString currentVersion;
    QString latest;      // available
    QString downloadURL; // available
    QList<ReleaseEntry> releases;

    static AppUpdateResult upToDate(const QString& current, QList<ReleaseEntry> releases = {})
    {
        return {Kind::upToDate, current, {}, {}, std::move(releases)};
    }
    static AppUpdateResult available(const QString& current, const QString& latest, const QString& url,
                                     QList<ReleaseEntry> releases)
    {
        return {Kind::available, current, latest, url, std::move(releases)};
    }

    bool operator==(const AppUpdateResult& other) const = default;
};

// Where the application's update stands, for the update window, the menu and the control socket.
struct AppUpdatePhase
{
    enum class Kind
    {
        idle,
        checking,
        result,
        downloading,
        installing,
        failed,
    };

    Kind kind = Kind::idle;
    std::optional<AppUpdateResult> result; // result
    double progress = 0;                   // downloading
    qint64 downloaded = 0;
    qint64 total = 0;
    QString text; // installing: the status; failed: the message

    static AppUpdatePhase of(Kind kind) { return {kind, std::nullopt, 0, 0, 0, {}}; }
    static AppUpdatePhase withResult(AppUpdateResult result)
    {
        return {Kind::result, std::move(result), 0, 0, 0, {}};
    }
    static AppUpdatePhase downloading(double progress, qint64 downloaded, qint64 total)
    {
        return {Kind::downloading, std::nullopt, progress, downloaded, total, {}};
    }
    static AppUpdatePhase installing(const QString& status)
    {
        return {Kind::installing, std::nullopt, 0, 0, 0, status};
    }
    static AppUpdatePhase failed(const QString& message)
    {
        return {Kind::failed, std::nullopt, 0, 0, 0, message};
    }

    bool operator==(const AppUpdatePhase& other) const = default;
};

} // namespace tarnwick
