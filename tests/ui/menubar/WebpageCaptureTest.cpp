#include "ui/menubar/WebpageCapture.h"

#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// The desktop as the capture sees it: which application is in front and what page each browser shows.
class StagedDesktop final : public BrowserAutomation
{
public:
    std::optional<QString> frontmostApplication() override { return frontmost; }
    std::optional<QString> currentPage(const QString& identifier) override
    {
        asked.append(identifier);
        return page;
    }
    bool isInstalled(const QString&) override { return true; }
    AutomationStatus automationStatus(const QString&, bool) override { return AutomationStatus::authorized; }
    QString unavailableReason() override { return reason; }

    std::optional<QString> frontmost;
    std::optional<QString> page;
    QString reason;
    QStringList asked;
};

} // namespace

TEST(WebpageCaptureTest, ScriptsFollowTheBrowserFamilyExactly)
{
    EXPECT_EQ(WebpageCapture::scriptFor(QStringLiteral("com.apple.Safari")),
              QStringLiteral("tell application id \"com.apple.Safari\" to return URL of front document"));
    EXPECT_EQ(
        WebpageCapture::scriptFor(QStringLiteral("com.brave.Browser.nightly")),
        QStringLiteral(
            "tell application id \"com.brave.Browser.nightly\" to return URL of active tab of front window"));
    for (const char* other : {"com.apple.safari", "org.mozilla.firefox", "com.apple.TextEdit", ""})
        EXPECT_FALSE(WebpageCapture::scriptFor(QLatin1String(other))) << other;
}

TEST(WebpageCaptureTest, TheHostOfTheFrontBrowsersPageOrWhyNot)
{
    struct Case
    {
        std::optional<QString> frontmost;
        std::optional<QString> page;
        QString reason;
        std::optional<QString> host;
        QString problem;
    };
    const QString firefox = QStringLiteral("org.mozilla.firefox");
    const QString chrome = QStringLiteral("com.google.Chrome");
    const Case cases[] = {
        {firefox,
         QStringLiteral("  https://www.example.com/path?q=1\n"),
         {},
         QStringLiteral("example.com"),
         {}},
        {chrome, QStringLiteral("http://wwwx.example.org:8080/"), {}, QStringLiteral("wwwx.example.org"), {}},
        {chrome, QStringLiteral("https://www.www.example.net"), {}, QStringLiteral("www.example.net"), {}},
        {chrome,
         QStringLiteral("not a url"),
         {},
         std::nullopt,
         QStringLiteral("Google Chrome shows \"not a url\", which has no host name.")},
        {chrome,
         QStringLiteral("about:blank"),
         {},
         std::nullopt,
         QStringLiteral("Google Chrome shows \"about:blank\", which has no host name.")},
        {chrome,
         std::nullopt,
         {},
         std::nullopt,
         QStringLiteral(
             "Google Chrome did not say which page it shows: its session file is missing or unreadable.")},
        {QStringLiteral("gedit"),
         QStringLiteral("https://example.com/"),
         {},
         std::nullopt,
         QStringLiteral("The active window (gedit) is not a browser Tarnwick can read: use Firefox or a "
                        "Chromium-family browser.")},
        {std::nullopt, {}, {}, std::nullopt, QStringLiteral("No window is active.")},
        {firefox, QStringLiteral("https://example.com/"), QStringLiteral("On Wayland …"), std::nullopt,
         QStringLiteral("On Wayland …")},
    };
    for (const Case& c : cases) {
        StagedDesktop desktop;
        desktop.frontmost = c.frontmost;
        desktop.page = c.page;
        desktop.reason = c.reason;
        const WebpageCapture::Result result = WebpageCapture::capture(desktop);
        EXPECT_EQ(result.host, c.host) << c.page.value_or(QStringLiteral("(none)")).toStdString();
        EXPECT_EQ(result.problem, c.problem);
        // Only a supported browser in front is asked for its page.
        EXPECT_EQ(desktop.asked.size(),
                  c.reason.isEmpty() && c.frontmost && c.frontmost != QLatin1String("gedit"));
    }
}

// Sessions the browsers themselves wrote (Firefox ESR 153 headless, Chromium 156 under Xvfb; fresh
// profiles, one tab on a page served from 127.0.0.1 under a "www." name): the Linux layer reads each and
// the capture takes the host without "www.".
TEST(WebpageCaptureTest, RealBrowserSessionsGiveTheirPagesHost)
{
    QTemporaryDir home;
    test::writeFile(home.filePath(QStringLiteral(".mozilla/firefox/profiles.ini")),
                    "[Profile0]\nName=default-esr\nIsRelative=1\nPath=p.default-esr\nDefault=1\n");
    const std::pair<QString, QString> sessions[] = {
        {QStringLiteral("firefox-recovery.jsonlz4"),
         QStringLiteral(".mozilla/firefox/p.default-esr/sessionstore-backups/recovery.jsonlz4")},
        {QStringLiteral("chromium-Session"),
         QStringLiteral("config/chromium/Default/Sessions/Session_13441087277959709")},
    };
    for (const auto& [recorded, place] : sessions) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(home.filePath(place)).path()));
        ASSERT_TRUE(
            QFile::copy(test::testData(QStringLiteral("platform/") + recorded), home.filePath(place)));
    }
    LinuxBrowserAutomation layer(home.path(), home.filePath(QStringLiteral("config")));
    const std::pair<const char*, const char*> browsers[] = {
        {"org.mozilla.firefox", "http://www.guide.example:8123/docs/index.html?from=capture"},
        {"org.chromium.Chromium", "http://www.guide.example:8124/docs/index.html?from=capture"},
    };
    for (const auto& [identifier, page] : browsers) {
        SCOPED_TRACE(identifier);
        EXPECT_EQ(layer.currentPage(QLatin1String(identifier)), QLatin1String(page));
        StagedDesktop desktop;
        desktop.frontmost = QLatin1String(identifier);
        desktop.page = layer.currentPage(QLatin1String(identifier));
        const WebpageCapture::Result result = WebpageCapture::capture(desktop);
        EXPECT_EQ(result.host, QStringLiteral("guide.example"));
        EXPECT_EQ(result.problem, QString());
    }
}
