#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace tarnwick {

// Whether the application may read a browser's current page.
enum class AutomationStatus
{
    authorized,
    denied,
    notRunning,
    notDetermined,
};

QString rawValue(AutomationStatus status);

// The frontmost application and a browser's current page: what the webpage rule capture asks of the
// desktop. On macOS that is the workspace and AppleScript; the Linux layer reads the active X11 window and
// the browser's session files.
class BrowserAutomation
{
public:
    virtual ~BrowserAutomation() = default;

    // The identifier of the application whose window is active; nothing when none is known.
    virtual std::optional<QString> frontmostApplication() = 0;
    // The address of the browser's current page, when it can be read.
    virtual std::optional<QString> currentPage(const QString& identifier) = 0;
    virtual bool isInstalled(const QString& identifier) = 0;
    virtual AutomationStatus automationStatus(const QString& identifier, bool ask) = 0;
    // Why the frontmost application cannot be known on this desktop at all; empty when it can.
    virtual QString unavailableReason() = 0;

    // The Linux layer for this session.
    static std::unique_ptr<BrowserAutomation> create();
};

// The Linux layer's browsers: their identifiers (as the capture's script table names them), X11 window
// classes, programs and where their profiles keep the session.
struct LinuxBrowser
{
    QString identifier;
    QString name;
    QStringList windowClasses; // WM_CLASS class names, lower case
    QStringList programs;      // executables on PATH
    QStringList processes;     // process names (as /proc/PID/comm shows them) while it runs
    QString profile;           // Chromium family: the profile below $XDG_CONFIG_HOME; Firefox: empty
};

const QList<LinuxBrowser>& linuxBrowsers();
const LinuxBrowser* findLinuxBrowser(const QString& identifier);

// The Linux layer. `home` and `configHome` are where the browsers keep their profiles.
class LinuxBrowserAutomation final : public BrowserAutomation
{
public:
    LinuxBrowserAutomation(QString home, QString configHome);

    std::optional<QString> frontmostApplication() override;
    std::optional<QString> currentPage(const QString& identifier) override;
    bool isInstalled(const QString& identifier) override;
    AutomationStatus automationStatus(const QString& identifier, bool ask) override;
    QString unavailableReason() override;

    // The browser of a window class (the second WM_CLASS string, any case); nothing for other programs.
    static std::optional<QString> identifierForWindowClass(const QString& windowClass);
    // The session file the layer reads for a browser; empty when there is none.
    QString sessionFile(const QString& identifier) const;

private:
    bool isRunning(const LinuxBrowser& browser) const;

    QString m_home;
    QString m_configHome;
};

} // namespace tarnwick
