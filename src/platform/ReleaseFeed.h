#pragma once

#include <QString>
#include <QUrl>

namespace tarnwick {

class Settings;

// Where kernel and application releases are published: a code-hosting service's REST API and the
// repositories on it. All are settings, so that a mirror (or a test's local feed) can stand in.
namespace ReleaseFeed {

inline const QString apiBaseURLKey = QStringLiteral("releases.apiBaseURL");
inline const QString smartRepositoryKey = QStringLiteral("releases.smartRepository");
inline const QString appRepositoryKey = QStringLiteral("update.repository");

inline const QString defaultApiBaseURL = QStringLiteral("https://api.github.com");
inline const QString kernelRepository = QStringLiteral("MetaCubeX/mihomo");
// The Smart fork of the kernel.
inline const QString defaultSmartRepository = QStringLiteral("vernesong/mihomo");
inline const QString defaultAppRepository = QStringLiteral("tarnwick/Tarnwick");

QUrl apiBaseURL(const Settings& settings);
QString smartRepository(const Settings& settings);
QString appRepository(const Settings& settings);

// `path` (beginning with '/') below the API base, keeping a base path such as "/api/v3"; `query` is
// appended undecoded.
QUrl endpoint(const QUrl& apiBase, const QString& path, const QString& query = QString());

} // namespace ReleaseFeed
} // namespace tarnwick
