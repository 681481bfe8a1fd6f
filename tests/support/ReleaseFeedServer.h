#pragma once

#include "TestHttpServer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

namespace tarnwick::test {

// A release feed on 127.0.0.1 answering like the code-hosting service's REST API: per repository the
// release list ("/repos/<owner>/<name>/releases", newest first) and single releases by tag
// ("/releases/tags/<tag>"), with every asset's browser_download_url pointing back at this server.
class ReleaseFeedServer final
{
public:
    struct Asset
    {
        QString name;
        QByteArray bytes;
        // Announce this length instead of the real one and close after the bytes: a download that
        // stops half-way.
        qint64 announcedLength = -1;
        // Answer the download with this status instead.
        int status = 200;
    };

    ReleaseFeedServer();

    // The kernel's release asset for this machine's architecture.
    static Asset kernelAsset(const QString& tag, QByteArray bytes, int status = 200);

    QString apiBase() const { return m_server.url(); }
    // Publishes a release as the repository's newest.
    void publish(const QString& repository, const QString& tag, bool prerelease, const QList<Asset>& assets);
    // Answers the repository's release list with this body (and status) instead of the releases.
    void overrideList(const QString& repository, int status, const QByteArray& body);
    // The requests made so far whose path starts with `prefix`.
    int requestCount(const QByteArray& prefix) const;
    QList<HttpRequest> requests() const { return m_server.requests(); }

private:
    HttpResponse answer(const HttpRequest& request);
    QByteArray releaseJson(const QString& repository, int index) const;

    struct Release
    {
        QString tag;
        bool prerelease;
        QList<Asset> assets;
    };
    mutable QMutex m_mutex;
    QHash<QString, QList<Release>> m_releases; // newest first
    QHash<QString, QPair<int, QByteArray>> m_overrides;
    TestHttpServer m_server;
};

} // namespace tarnwick::test
