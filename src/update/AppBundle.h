#pragma once

#include <QString>

namespace tarnwick {

// The application as installed: a relocatable directory holding bin/tarnwick-app (and the other
// executables) and share/tarnwick/Info.ini with its version. The release .zip carries one such
// directory; the build tree is one too.
class AppBundle final
{
public:
    static inline const QString executableName = QStringLiteral("bin/tarnwick-app");
    static inline const QString infoFile = QStringLiteral("share/tarnwick/Info.ini");

    explicit AppBundle(QString path);
    // The bundle of the running executable: the directory above its bin/.
    static AppBundle running();
    // A directory (not a link) holding an executable bin/tarnwick-app.
    static bool isBundle(const QString& directory);

    const QString& path() const { return m_path; }
    QString executable() const { return m_path + QLatin1Char('/') + executableName; }
    // Info.ini's ShortVersion; this build's version when the file or the key is missing.
    QString shortVersion() const;
    // Info.ini's Build as a number; 0 when empty or not a number.
    qint64 build() const;
    // Where an update may replace it: under ~/Applications or /opt. A package manager owns anything
    // elsewhere (/usr for the .deb).
    bool isInApplicationsFolder(const QString& homeDirectory) const;

private:
    QString m_path;
};

} // namespace tarnwick
