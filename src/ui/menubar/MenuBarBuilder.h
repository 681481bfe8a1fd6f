#pragma once

#include "MenuBarIconMode.h"
#include "app/HelperClient.h"
#include "app/KernelStatus.h"
#include "config/ProfileNode.h"
#include "controller/OutboundMode.h"

#include <QList>
#include <QString>
#include <optional>

class QMenu;

namespace tarnwick {

// Everything the tray menu shows, read from the application's state when the menu opens.
struct MenuBarSnapshot
{
    struct Member
    {
        QString name;
        std::optional<qint64> delay; // milliseconds; absent when never tested
    };
    struct Group
    {
        QString name;
        QString type;
        QString selected;
        bool isSelectable = false;
        bool isTesting = false;
        QList<Member> members;
    };

    KernelStatus kernelStatus;
    std::optional<QString> kernelVersion;
    std::optional<OutboundMode> mode; // absent until the kernel has told it
    bool systemProxyEnabled = false;
    bool tunEnabled = false;
    QList<ProfileNode> profiles;
    std::optional<QString> activeProfileName;
    QList<Group> groups;
    std::optional<HelperStatus> helperStatus; // absent until checked
    QString helperVersion;
    MenuBarIconMode iconMode = MenuBarIconMode::iconAndSpeed;
};

// What the menu's items do; MenuBarManager implements it.
class MenuBarActions
{
public:
    virtual ~MenuBarActions() = default;
    virtual void startKernel() = 0;
    virtual void stopKernel() = 0;
    virtual void restartKernel() = 0;
    virtual void setMode(OutboundMode mode) = 0;
    virtual void setSystemProxy(bool enabled) = 0;
    virtual void setTun(bool enabled) = 0;
    virtual void activateProfile(const ProfileNode& profile) = 0;
    virtual void importSubscription() = 0;
    virtual void addLocalProfile() = 0;
    virtual void editActiveProfile() = 0;
    virtual void revealActiveProfile() = 0;
    virtual void selectProxy(const QString& group, const QString& member) = 0;
    virtual void testLatency(const QString& group) = 0;
    virtual void installHelper() = 0;
    virtual void setIconMode(MenuBarIconMode mode) = 0;
    virtual void copyShellExport() = 0;
    virtual void addRuleForWebpage() = 0;
    virtual void openWindow() = 0;
    virtual void quit() = 0;
};

// Fills the tray menu from a snapshot: kernel status and commands, outbound modes,
// profiles, proxy groups, the helper's state, the icon mode, the shell snippet, the window and quit.
class MenuBarBuilder final
{
public:
    // Members listed in a group's submenu; a larger group says how many more the window shows.
    static constexpr int maxMembersInMenu = 100;

    static void build(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
    static QString statusWord(const KernelStatus& status);
    static QString modeTitle(OutboundMode mode);
    // "120 ms", "Timeout", or nothing for a member never tested.
    static QString delayText(const std::optional<qint64>& delay);

private:
    static void addKernelSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
    static void addModeSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
    static void addProfileSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
    static void addGroupSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
    static void addHelperSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions);
};

} // namespace tarnwick
