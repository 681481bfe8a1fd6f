#include "ui/menubar/WebpageCapture.h"

#include "support/QtPrinters.h"

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
