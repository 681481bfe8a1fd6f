#include "ui/menubar/MenuBarBuilder.h"

#include <QMenu>
#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

class RecordingActions final : public MenuBarActions
{
public:
    void startKernel() override { calls << QStringLiteral("start"); }
    void addRuleForWebpage() override { calls << QStringLiteral("webpage"); }
    void stopKernel() override { calls << QStringLiteral("stop"); }
    void restartKernel() override { calls << QStringLiteral("restart"); }
    void setMode(OutboundMode mode) override { calls << QStringLiteral("mode ") + rawValue(mode); }
    void setSystemProxy(bool on) override { calls << QStringLiteral("proxy %1").arg(on); }
    void setTun(bool on) override { calls << QStringLiteral("tun %1").arg(on); }
    void activateProfile(const ProfileNode& profile) override
    {
        calls << QStringLiteral("profile ") + profile.name;
    }
    void importSubscription() override { calls << QStringLiteral("import"); }
    void addLocalProfile() override { calls << QStringLiteral("add"); }
    void editActiveProfile() override { calls << QStringLiteral("edit"); }
    void revealActiveProfile() override { calls << QStringLiteral("reveal"); }
    void selectProxy(const QString& group, const QString& member) override
    {
        calls << QStringLiteral("select ") + group + QLatin1Char('/') + member;
    }
    void testLatency(const QString& group) override { calls << QStringLiteral("test ") + group; }
    void installHelper() override { calls << QStringLiteral("helper"); }
    void setIconMode(MenuBarIconMode mode) override { calls << QStringLiteral("icon ") + rawValue(mode); }
    void copyShellExport() override { calls << QStringLiteral("copy"); }
    void openWindow() override { calls << QStringLiteral("window"); }
    void quit() override { calls << QStringLiteral("quit"); }
    QStringList calls;
};

QAction* find(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
        if (action->menu() && action->text().startsWith(text))
            return action;
    }
    return nullptr;
}

QStringList titles(const QMenu& menu)
{
    QStringList result;
    for (const QAction* action : menu.actions()) {
        if (!action->isSeparator())
            result << action->text();
    }
    return result;
}

} // namespace

TEST(MenuBarBuilderTest, StoppedKernelWithoutProfiles)
{
    QMenu menu;
    RecordingActions actions;
    MenuBarSnapshot snapshot;
    snapshot.helperStatus = HelperStatus::unreachable;
    MenuBarBuilder::build(menu, snapshot, actions);

    EXPECT_EQ(titles(menu), (QStringList{"Kernel: Stopped", "Start Kernel", "Restart Kernel", "Rule",
                                         "Global", "Direct", "System Proxy", "Enhanced Mode (TUN)", "Profile",
                                         "Helper Unreachable", "Menu Bar Icon", "Copy Shell Export",
                                         "Add Rule for Current Webpage…", "Open Tarnwick", "Quit Tarnwick"}));
    EXPECT_FALSE(find(menu, QStringLiteral("Restart Kernel"))->isEnabled());
    EXPECT_FALSE(find(menu, QStringLiteral("Global"))->isEnabled());
    const QMenu* profiles = find(menu, QStringLiteral("Profile"))->menu();
    EXPECT_EQ(titles(*profiles), (QStringList{"No Profiles Found", "Import Subscription", "Add Local Profile",
                                              "Edit in Text Editor", "Reveal in Finder"}));
    EXPECT_FALSE(find(*profiles, QStringLiteral("Edit in Text Editor"))->isEnabled());
    const QMenu* icon = find(menu, QStringLiteral("Menu Bar Icon"))->menu();
    EXPECT_EQ(titles(*icon), (QStringList{"Icon and Speed", "Icon Only", "Speed Only"}));
    EXPECT_TRUE(icon->actions().first()->isChecked());

    find(menu, QStringLiteral("Start Kernel"))->trigger();
    find(menu, QStringLiteral("System Proxy"))->trigger();
    icon->actions().last()->trigger();
    find(menu, QStringLiteral("Copy Shell Export"))->trigger();
    find(menu, QStringLiteral("Add Rule for Current Webpage…"))->trigger();
    EXPECT_EQ(actions.calls, (QStringList{"start", "proxy 1", "icon speedOnly", "copy", "webpage"}));
}

TEST(MenuBarBuilderTest, RunningKernelWithProfilesGroupsAndHelper)
{
    QMenu menu;
    RecordingActions actions;
    MenuBarSnapshot snapshot;
    snapshot.kernelStatus = KernelStatus::running(42);
    snapshot.kernelVersion = QStringLiteral("v1.19.30");
    snapshot.mode = OutboundMode::global;
    ProfileNode home;
    home.name = QStringLiteral("Home");
    ProfileNode work;
    work.name = QStringLiteral("Work & Play");
    snapshot.profiles = {home, work};
    snapshot.activeProfileName = QStringLiteral("Home");
    MenuBarSnapshot::Group proxy{
        QStringLiteral("Proxy"),
        QStringLiteral("Selector"),
        QStringLiteral("B"),
        true,
        false,
        {{QStringLiteral("A"), 120}, {QStringLiteral("B"), 0}, {QStringLiteral("C"), {}}}};
    MenuBarSnapshot::Group big{QStringLiteral("Auto"), QStringLiteral("URLTest"), QString(), false, true, {}};
    for (int i = 0; i < 5000; ++i)
        big.members.append({QString(300, QChar(u'\u05D0')) + QString::number(i), {}});
    snapshot.groups = {proxy, big};
    snapshot.helperStatus = HelperStatus::ok;
    snapshot.helperVersion = QStringLiteral("0.1.0");
    MenuBarBuilder::build(menu, snapshot, actions);

    EXPECT_EQ(titles(menu).first(), QStringLiteral("Kernel: Running (v1.19.30)"));
    EXPECT_TRUE(find(menu, QStringLiteral("Stop Kernel")));
    EXPECT_TRUE(find(menu, QStringLiteral("Global"))->isChecked());
    EXPECT_TRUE(find(menu, QStringLiteral("Helper Version 0.1.0")));
    const QMenu* profiles = find(menu, QStringLiteral("Profile: Home"))->menu();
    EXPECT_TRUE(find(*profiles, QStringLiteral("Home"))->isChecked());
    find(*profiles, QStringLiteral("Work && Play"))->trigger();

    const QMenu* proxyMenu = find(menu, QStringLiteral("Proxy: B"))->menu();
    EXPECT_EQ(titles(*proxyMenu), (QStringList{"Test Latency", "A\t120 ms", "B\tTimeout", "C"}));
    EXPECT_TRUE(find(*proxyMenu, QStringLiteral("B\tTimeout"))->isChecked());
    find(*proxyMenu, QStringLiteral("A\t120 ms"))->trigger();
    find(*proxyMenu, QStringLiteral("Test Latency"))->trigger();

    // A huge group with very long names stays a usable menu; a test in progress says so.
    const QMenu* bigMenu = find(menu, QStringLiteral("Auto"))->menu();
    EXPECT_EQ(bigMenu->actions().first()->text(), QStringLiteral("Testing Latency…"));
    EXPECT_FALSE(bigMenu->actions().first()->isEnabled());
    EXPECT_EQ(bigMenu->actions().size(), 1 + 1 + MenuBarBuilder::maxMembersInMenu + 1);
    EXPECT_LE(bigMenu->actions().at(2)->text().size(), 60);
    EXPECT_EQ(bigMenu->actions().last()->text(), QStringLiteral("4900 more in the Policy page…"));
    EXPECT_FALSE(bigMenu->actions().at(2)->isEnabled()); // not a group the user selects in

    EXPECT_EQ(actions.calls, (QStringList{"profile Work & Play", "select Proxy/A", "test Proxy"}));
}
