#pragma once

#include <QString>

namespace tarnwick {

// The workspace layout: every file and directory the application keeps under its root. Directory
// members end with '/'. Cheap to copy; holds nothing but the root.
class ClashPaths final
{
public:
    // The default root: $TARNWICK_WORKSPACE when set, else <XDG data dir>/Tarnwick, after moving a
    // workspace left under the legacy name "tarnwick" there.
    ClashPaths();
    // A non-empty directory is used as the root unchanged (no legacy move, nothing created).
    explicit ClashPaths(const QString& baseDirectory);

    QString applicationSupportDirectory() const { return m_root; }
    QString profilesDirectory() const { return m_root + QStringLiteral("profiles/"); }
    QString workDirectory() const { return m_root + QStringLiteral("work/"); }
    QString logsDirectory() const { return m_root + QStringLiteral("logs/"); }
    QString databaseDirectory() const { return m_root + QStringLiteral("Database/"); }
    QString coreDirectory() const { return m_root + QStringLiteral("core/"); }
    QString versionsDirectory() const { return m_root + QStringLiteral("core/versions/"); }
    QString runtimeConfigFile() const { return m_root + QStringLiteral("work/config.json"); }
    QString coreLogFile() const { return m_root + QStringLiteral("logs/core.log"); }
    QString managedCoreExecutable() const { return m_root + QStringLiteral("core/current"); }

    // Creates the root and the directories below it, in order; throws WorkspaceError on the first
    // failure. Directories already present are no failure.
    void prepare() const;

    // Copies the resource file to profiles/Default.yaml unless that file exists or the resource is
    // missing. Throws WorkspaceError when the copy fails.
    void seedDefaultProfileIfNeeded(const QString& resourcePath) const;

private:
    static QString resolveDefaultRoot();

    QString m_root;
};

} // namespace tarnwick
