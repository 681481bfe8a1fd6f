#pragma once

#include <QString>

namespace tarnwick {

// "Launch at login" on a freedesktop session: an autostart entry, tarnwick.desktop in
// $XDG_CONFIG_HOME/autostart, that starts this executable when the user logs in.
class LoginItem final
{
public:
    // `directory`: where the session looks for autostart entries; `executable`: what the entry starts.
    explicit LoginItem(QString directory = defaultDirectory(), QString executable = {});

    static QString defaultDirectory();
    QString filePath() const;

    // An entry of ours that the session does not skip (Hidden, or disabled by GNOME's switch).
    bool isEnabled() const;
    // Writes the entry whole, or removes it. Throws Error when the directory or file cannot be written.
    void setEnabled(bool enabled) const;

private:
    QString m_directory;
    QString m_executable;
};

} // namespace tarnwick
