#include "WebpageCapture.h"

#include <QUrl>

namespace tarnwick::WebpageCapture {

namespace {

const QStringList& documentBrowsers()
{
    static const QStringList ids = {QStringLiteral("com.apple.Safari"),
                                    QStringLiteral("com.apple.SafariTechnologyPreview"),
                                    QStringLiteral("com.kagi.kagimacOS")};
    return ids;
}

const QStringList& tabBrowsers()
{
    static const QStringList ids = {
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("com.google.Chrome.beta"),
        QStringLiteral("com.google.Chrome.dev"),
        QStringLiteral("com.google.Chrome.canary"),
        QStringLiteral("com.microsoft.edgemac"),
        QStringLiteral("com.microsoft.edgemac.Beta"),
        QStringLiteral("com.microsoft.edgemac.Dev"),
        QStringLiteral("com.microsoft.edgemac.Canary"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("com.brave.Browser.beta"),
        QStringLiteral("com.brave.Browser.nightly"),
        QStringLiteral("com.brave.Browser.dev"),
        QStringLiteral("company.thebrowser.Browser"),
        QStringLiteral("company.thebrowser.dia"),
        QStringLiteral("net.imput.helium"),
        QStringLiteral("com.vivaldi.Vivaldi"),
        QStringLiteral("com.operasoftware.Opera"),
        QStringLiteral("com.operasoftware.OperaGX"),
        QStringLiteral("com.operasoftware.OperaNext"),
        QStringLiteral("com.operasoftware.OperaDeveloper"),
        QStringLiteral("ru.yandex.desktop.yandex-browser"),
    };
    return ids;
}

} // namespace

std::optional<QString> scriptFor(const QString& bundleId)
{
    if (documentBrowsers().contains(bundleId))
        return QStringLiteral("tell application id \"") + bundleId +
               QStringLiteral("\" to return URL of front document");
    if (tabBrowsers().contains(bundleId))
        return QStringLiteral("tell application id \"") + bundleId +
               QStringLiteral("\" to return URL of active tab of front window");
    return std::nullopt;
}

const QList<BrowserInfo>& supportedBrowsers()
{
    static const QList<BrowserInfo> all = [] {
        QList<BrowserInfo> list;
        for (const LinuxBrowser& browser : linuxBrowsers())
            list.append({browser.name, browser.identifier});
        return list;
    }();
    return all;
}

std::optional<QString> hostFromPage(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    QString host = url.host();
    if (host.isEmpty())
        return std::nullopt;
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}

Result capture(BrowserAutomation& automation)
{
    if (const QString reason = automation.unavailableReason(); !reason.isEmpty())
        return {std::nullopt, reason};
    const std::optional<QString> frontmost = automation.frontmostApplication();
    if (!frontmost)
        return {std::nullopt, QStringLiteral("No window is active.")};
    // Firefox has no scripting request on macOS; here its session is read like the others'.
    if (!scriptFor(*frontmost) && !findLinuxBrowser(*frontmost))
        return {std::nullopt,
                QStringLiteral("The active window (%1) is not a browser Tarnwick can read: use Firefox "
                               "or a Chromium-family browser.")
                    .arg(*frontmost)};
    const LinuxBrowser* browser = findLinuxBrowser(*frontmost);
    const QString name = browser ? browser->name : *frontmost;
    const std::optional<QString> page = automation.currentPage(*frontmost);
    if (!page)
        return {
            std::nullopt,
            QStringLiteral("%1 did not say which page it shows: its session file is missing or unreadable.")
                .arg(name)};
    const std::optional<QString> host = hostFromPage(*page);
    if (!host)
        return {std::nullopt, QStringLiteral("%1 shows \"%2\", which has no host name.").arg(name, *page)};
    return {host, {}};
}

} // namespace tarnwick::WebpageCapture
