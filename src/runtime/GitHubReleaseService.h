#pragma once

#include "RuntimeChannel.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace tarnwick {

class Settings;

// The newest usable kernel of a channel: its version text and the archive for this machine.
struct RuntimeRelease
{
    QString version;
    QUrl downloadURL;
};

// Finds a channel's newest release on the release feed and picks this machine's archive from it.
class GitHubReleaseService final
{
public:
    // The text an asset's name must contain for this build's machine. On x86-64 the build compiled for
    // the baseline instruction set ("compatible", GOAMD64=v1): the kernel's plain amd64 build needs a
    // v3 processor (AVX2), and the v1/v2/v3 and Go-version variants are narrower or for older systems.
    static QString architectureTag();

    GitHubReleaseService(QNetworkAccessManager* network, QUrl apiBase, QString smartRepository);
    // The feed and the Smart fork's repository from the settings.
    GitHubReleaseService(QNetworkAccessManager* network, const Settings& settings);

    static QString repository(RuntimeChannel channel, const QString& smartRepository);
    static bool accepts(RuntimeChannel channel, const QString& tagName, bool prerelease);

    // Throws RuntimeError (HTTP status, transport failure, empty channel, no archive for this machine) or
    // DecodingError (a release list that cannot be read).
    QCoro::Task<RuntimeRelease> fetchLatest(RuntimeChannel channel) const;

private:
    QNetworkAccessManager* m_network;
    QUrl m_apiBase;
    QString m_smartRepository;
};

} // namespace tarnwick
