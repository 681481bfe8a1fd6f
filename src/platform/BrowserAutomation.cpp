#include "BrowserAutomation.h"

#include "BrowserSession.h"

#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace tarnwick {

namespace {

QStringList texts(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* item : list)
        out.append(QString::fromLatin1(item));
    return out;
}

// A child process's standard output, or nothing when it fails or does not answer within two seconds.
std::optional<QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

QString rawValue(AutomationStatus status)
{
    switch (status) {
    case AutomationStatus::authorized:
        return QStringLiteral("authorized");
    case AutomationStatus::denied:
        return QStringLiteral("denied");
    case AutomationStatus::notRunning:
        return QStringLiteral("notRunning");
    case AutomationStatus::notDetermined:
        break;
    }
    return QStringLiteral("notDetermined");
}

std::unique_ptr<BrowserAutomation> BrowserAutomation::create()
{
    return std::make_unique<LinuxBrowserAutomation>(
        QDir::homePath(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

const QList<LinuxBrowser>& linuxBrowsers()
{
    // clang-format off
    static const QList<LinuxBrowser> all = {
        {QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), texts({"firefox", "firefox-esr"}),
         texts({"firefox", "firefox-esr"}), texts({"firefox", "firefox-esr", "firefox-bin"}), {}},
        {QStringLiteral("org.chromium.Chromium"), QStringLiteral("Chromium"), texts({"chromium", "chromium-browser"}),
         texts({"chromium", "chromium-browser"}), texts({"chromium"}), QStringLiteral("chromium")},
        {QStringLiteral("com.google.Chrome"), QStringLiteral("Google Chrome"), texts({"google-chrome"}),
         texts({"google-chrome", "google-chrome-stable"}), texts({"chrome"}), QStringLiteral("google-chrome")},
        {QStringLiteral("com.google.Chrome.beta"), QStringLiteral("Google Chrome Beta"), texts({"google-chrome-beta"}),
         texts({"google-chrome-beta"}), texts({"chrome"}), QStringLiteral("google-chrome-beta")},
        {QStringLiteral("com.google.Chrome.dev"), QStringLiteral("Google Chrome Dev"), texts({"google-chrome-unstable"}),
         texts({"google-chrome-unstable"}), texts({"chrome"}), QStringLiteral("google-chrome-unstable")},
        {QStringLiteral("com.microsoft.edgemac"), QStringLiteral("Microsoft Edge"), texts({"microsoft-edge"}),
         texts({"microsoft-edge", "microsoft-edge-stable"}), texts({"msedge"}), QStringLiteral("microsoft-edge")},
        {QStringLiteral("com.microsoft.edgemac.Beta"), QStringLiteral("Microsoft Edge Beta"), texts({"microsoft-edge-beta"}),
         texts({"microsoft-edge-beta"}), texts({"msedge"}), QStringLiteral("microsoft-edge-beta")},
        {QStringLiteral("com.microsoft.edgemac.Dev"), QStringLiteral("Microsoft Edge Dev"), texts({"microsoft-edge-dev"}),
         texts({"microsoft-edge-dev"}), texts({"msedge"}), QStringLiteral("microsoft-edge-dev")},
        {QStringLiteral("com.brave.Browser"), QStringLiteral("Brave Browser"), texts({"brave-browser"}),
         texts({"brave-browser", "brave"}), texts({"brave"}), QStringLiteral("BraveSoftware/Brave-Browser")},
        {QStringLiteral("com.brave.Browser.beta"), QStringLiteral("Brave Browser Beta"), texts({"brave-browser-beta"}),
         texts({"brave-browser-beta"}), texts({"brave"}), QStringLiteral("BraveSoftware/Brave-Browser-Beta")},
        {QStringLiteral("com.brave.Browser.nightly"), QStringLiteral("Brave Browser Nightly"),
         texts({"brave-browser-nightly"}), texts({"brave-browser-nightly"}), texts({"brave"}),
         QStringLiteral("BraveSoftware/Brave-Browser-Nightly")},
        {QStringLiteral("com.vivaldi.Vivaldi"), QStringLiteral("Vivaldi"), texts({"vivaldi-stable", "vivaldi"}),
         texts({"vivaldi", "vivaldi-stable"}), texts({"vivaldi-bin"}), QStringLiteral("vivaldi")},
        {QStringLiteral("com.operasoftware.Opera"), QStringLiteral("Opera"), texts({"opera"}), texts({"opera"}),
         texts({"opera"}), QStringLiteral("opera")},
        {QStringLiteral("ru.yandex.desktop.yandex-browser"), QStringLiteral("Yandex Browser"),
         texts({"yandex-browser"}), texts({"yandex-browser", "yandex-browser-stable"}), texts({"yandex_browser"}),
         QStringLiteral("yandex-browser")},
    };
    // clang-format on
    return all;
}

const LinuxBrowser* findLinuxBrowser(const QString& identifier)
{
    for (const LinuxBrowser& browser : linuxBrowsers()) {
        if (browser.identifier == identifier)
            return &browser;
    }
    return nullptr;
}

LinuxBrowserAutomation::LinuxBrowserAutomation(QString home, QString configHome)
    : m_home(std::move(home)), m_configHome(std::move(configHome))
{}

QString LinuxBrowserAutomation::unavailableReason()
{
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
        (qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return QStringLiteral(
            "On Wayland the desktop does not tell other programs which window is active, so "
            "the current webpage cannot be read. Add the rule on the Rules page instead.");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("There is no X11 display, so the active window cannot be read.");
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        return QStringLiteral(
            "xprop (package x11-utils) is not installed, so the active window cannot be read.");
    return {};
}

std::optional<QString> LinuxBrowserAutomation::identifierForWindowClass(const QString& windowClass)
{
    const QString wanted = windowClass.toLower();
    for (const LinuxBrowser& browser : linuxBrowsers()) {
        if (browser.windowClasses.contains(wanted))
            return browser.identifier;
    }
    return std::nullopt;
}

std::optional<QString> LinuxBrowserAutomation::frontmostApplication()
{
    if (!unavailableReason().isEmpty())
        return std::nullopt;
    const std::optional<QString> active =
        run(QStringLiteral("xprop"),
            {QStringLiteral("-root"), QStringLiteral("-notype"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    static const QRegularExpression windowId(QStringLiteral("window id # (0x[0-9a-fA-F]+)"));
    const QRegularExpressionMatch id = windowId.match(active.value_or(QString()));
    if (!id.hasMatch() || id.captured(1) == QLatin1String("0x0"))
        return std::nullopt;
    const std::optional<QString> classes =
        run(QStringLiteral("xprop"),
            {QStringLiteral("-id"), id.captured(1), QStringLiteral("-notype"), QStringLiteral("WM_CLASS")});
    // WM_CLASS = "Navigator", "firefox-esr": the instance, then the class.
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    QStringList names;
    for (const QRegularExpressionMatch& match : quoted.globalMatch(classes.value_or(QString())))
        names.prepend(match.captured(1));
    for (const QString& name : std::as_const(names)) {
        if (const std::optional<QString> browser = identifierForWindowClass(name))
            return browser;
    }
    // Another program: its class, so that the caller can name it.
    return names.isEmpty() ? std::nullopt : std::optional<QString>(names.first());
}

QString LinuxBrowserAutomation::sessionFile(const QString& identifier) const
{
    const LinuxBrowser* browser = findLinuxBrowser(identifier);
    if (!browser)
        return {};
    if (browser->profile.isEmpty()) {
        const std::optional<QString> profile =
            BrowserSession::firefoxDefaultProfile(m_home + QStringLiteral("/.mozilla/firefox"));
        if (!profile)
            return {};
        for (const char* name : {"sessionstore-backups/recovery.jsonlz4", "sessionstore.jsonlz4"}) {
            const QString path = *profile + QLatin1Char('/') + QLatin1String(name);
            if (QFileInfo::exists(path))
                return path;
        }
        return {};
    }
    return BrowserSession::chromiumSessionFile(m_configHome + QLatin1Char('/') + browser->profile +
                                               QStringLiteral("/Default"));
}

std::optional<QString> LinuxBrowserAutomation::currentPage(const QString& identifier)
{
    const LinuxBrowser* browser = findLinuxBrowser(identifier);
    const QString path = sessionFile(identifier);
    if (!browser || path.isEmpty())
        return std::nullopt;
    if (browser->profile.isEmpty()) {
        const std::optional<QString> profile =
            BrowserSession::firefoxDefaultProfile(m_home + QStringLiteral("/.mozilla/firefox"));
        return profile ? BrowserSession::firefoxProfileUrl(*profile) : std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return BrowserSession::chromiumCurrentUrl(file.readAll());
}

bool LinuxBrowserAutomation::isInstalled(const QString& identifier)
{
    const LinuxBrowser* browser = findLinuxBrowser(identifier);
    if (!browser)
        return false;
    return std::any_of(browser->programs.cbegin(), browser->programs.cend(), [](const QString& program) {
        return !QStandardPaths::findExecutable(program).isEmpty();
    });
}

bool LinuxBrowserAutomation::isRunning(const LinuxBrowser& browser) const
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString& pid : pids) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) &&
            browser.processes.contains(QString::fromLocal8Bit(comm.readAll()).trimmed()))
            return true;
    }
    return false;
}

AutomationStatus LinuxBrowserAutomation::automationStatus(const QString& identifier, bool)
{
    // There is no permission to ask for here: a running browser's session file is readable, or it is not.
    const LinuxBrowser* browser = findLinuxBrowser(identifier);
    if (!browser || !isRunning(*browser))
        return AutomationStatus::notRunning;
    const QString path = sessionFile(identifier);
    if (path.isEmpty())
        return AutomationStatus::notDetermined;
    return QFileInfo(path).isReadable() ? AutomationStatus::authorized : AutomationStatus::denied;
}

} // namespace tarnwick
