#include "MenuBarBuilder.h"

#include "controller/DelayLevel.h"

#include <QActionGroup>
#include <QMenu>
#include <numeric>

namespace tarnwick {

namespace {

// Names from profiles can be very long; menus stay a readable width.
constexpr int maxTitleLength = 60;

QString menuTitle(const QString& name)
{
    QString title = name.size() > maxTitleLength ? name.left(maxTitleLength - 1) + QChar(0x2026) : name;
    // A single "&" would become a mnemonic.
    return title.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QAction* addCheckable(QMenu& menu, const QString& title, bool checked)
{
    QAction* action = menu.addAction(title);
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

} // namespace

QString MenuBarBuilder::statusWord(const KernelStatus& status)
{
    switch (status.kind) {
    case KernelStatus::Kind::running:
        return QStringLiteral("Running");
    case KernelStatus::Kind::starting:
        return QStringLiteral("Starting");
    case KernelStatus::Kind::error:
        return QStringLiteral("Error");
    case KernelStatus::Kind::stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QString MenuBarBuilder::modeTitle(OutboundMode mode)
{
    switch (mode) {
    case OutboundMode::global:
        return QStringLiteral("Global");
    case OutboundMode::direct:
        return QStringLiteral("Direct");
    case OutboundMode::rule:
        break;
    }
    return QStringLiteral("Rule");
}

QString MenuBarBuilder::delayText(const std::optional<qint64>& delay)
{
    if (!delay)
        return {};
    if (delayLevel(*delay) == DelayLevel::timeout)
        return QStringLiteral("Timeout");
    return QStringLiteral("%1 ms").arg(*delay);
}

void MenuBarBuilder::build(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    menu.clear();
    addKernelSection(menu, snapshot, actions);
    menu.addSeparator();
    addModeSection(menu, snapshot, actions);
    menu.addSeparator();
    addProfileSection(menu, snapshot, actions);
    addGroupSection(menu, snapshot, actions);
    menu.addSeparator();
    addHelperSection(menu, snapshot, actions);

    QMenu* icon = menu.addMenu(QStringLiteral("Menu Bar Icon"));
    auto* iconGroup = new QActionGroup(icon);
    for (const MenuBarIconMode mode : allMenuBarIconModes()) {
        QAction* action = addCheckable(*icon, label(mode), mode == snapshot.iconMode);
        iconGroup->addAction(action);
        QObject::connect(action, &QAction::triggered, icon, [&actions, mode] { actions.setIconMode(mode); });
    }
    menu.addAction(QStringLiteral("Copy Shell Export"), [&actions] { actions.copyShellExport(); });
    menu.addAction(QStringLiteral("Add Rule for Current Webpage…"),
                   [&actions] { actions.addRuleForWebpage(); });
    menu.addSeparator();
    menu.addAction(QStringLiteral("Open Tarnwick"), [&actions] { actions.openWindow(); });
    menu.addAction(QStringLiteral("Quit Tarnwick"), [&actions] { actions.quit(); });
}

void MenuBarBuilder::addKernelSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    QString status = QStringLiteral("Kernel: ") + statusWord(snapshot.kernelStatus);
    if (snapshot.kernelStatus.kind == KernelStatus::Kind::running && snapshot.kernelVersion)
        status += QStringLiteral(" (") + *snapshot.kernelVersion + QLatin1Char(')');
    menu.addAction(status)->setEnabled(false);
    if (snapshot.kernelStatus.kind == KernelStatus::Kind::error && !snapshot.kernelStatus.message.isEmpty())
        menu.addAction(menuTitle(snapshot.kernelStatus.message))->setEnabled(false);

    const bool up = snapshot.kernelStatus.isRunningOrStarting();
    if (up)
        menu.addAction(QStringLiteral("Stop Kernel"), [&actions] { actions.stopKernel(); });
    else
        menu.addAction(QStringLiteral("Start Kernel"), [&actions] { actions.startKernel(); });
    menu.addAction(QStringLiteral("Restart Kernel"), [&actions] { actions.restartKernel(); })->setEnabled(up);
}

void MenuBarBuilder::addModeSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    const bool running = snapshot.kernelStatus.kind == KernelStatus::Kind::running;
    auto* modes = new QActionGroup(&menu);
    for (const OutboundMode mode : allOutboundModes()) {
        QAction* action = addCheckable(menu, modeTitle(mode), snapshot.mode == mode);
        action->setEnabled(running);
        modes->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu, [&actions, mode] { actions.setMode(mode); });
    }
    menu.addSeparator();
    QAction* proxy = addCheckable(menu, QStringLiteral("System Proxy"), snapshot.systemProxyEnabled);
    QObject::connect(proxy, &QAction::triggered, &menu, [&actions](bool on) { actions.setSystemProxy(on); });
    QAction* tun = addCheckable(menu, QStringLiteral("Enhanced Mode (TUN)"), snapshot.tunEnabled);
    QObject::connect(tun, &QAction::triggered, &menu, [&actions](bool on) { actions.setTun(on); });
}

void MenuBarBuilder::addProfileSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    QString title = QStringLiteral("Profile");
    if (snapshot.activeProfileName)
        title += QStringLiteral(": ") + menuTitle(*snapshot.activeProfileName);
    QMenu* profiles = menu.addMenu(title);
    if (snapshot.profiles.isEmpty())
        profiles->addAction(QStringLiteral("No Profiles Found"))->setEnabled(false);
    auto* group = new QActionGroup(profiles);
    for (const ProfileNode& profile : snapshot.profiles) {
        QAction* action =
            addCheckable(*profiles, menuTitle(profile.name), snapshot.activeProfileName == profile.name);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, profiles,
                         [&actions, profile] { actions.activateProfile(profile); });
    }
    profiles->addSeparator();
    profiles->addAction(QStringLiteral("Import Subscription"), [&actions] { actions.importSubscription(); });
    profiles->addAction(QStringLiteral("Add Local Profile"), [&actions] { actions.addLocalProfile(); });
    const bool hasActive = snapshot.activeProfileName.has_value();
    profiles->addSeparator();
    profiles->addAction(QStringLiteral("Edit in Text Editor"), [&actions] { actions.editActiveProfile(); })
        ->setEnabled(hasActive);
    profiles->addAction(QStringLiteral("Reveal in Finder"), [&actions] { actions.revealActiveProfile(); })
        ->setEnabled(hasActive);
}

void MenuBarBuilder::addGroupSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    if (snapshot.groups.isEmpty() || snapshot.kernelStatus.kind != KernelStatus::Kind::running)
        return;
    menu.addSeparator();
    for (const MenuBarSnapshot::Group& group : snapshot.groups) {
        QString title = menuTitle(group.name);
        if (!group.selected.isEmpty())
            title += QStringLiteral(": ") + menuTitle(group.selected);
        QMenu* submenu = menu.addMenu(title);
        QAction* test = submenu->addAction(group.isTesting ? QStringLiteral("Testing Latency…")
                                                           : QStringLiteral("Test Latency"));
        test->setEnabled(!group.isTesting);
        QObject::connect(test, &QAction::triggered, submenu,
                         [&actions, name = group.name] { actions.testLatency(name); });
        submenu->addSeparator();
        qsizetype shown = qMin<qsizetype>(group.members.size(), maxMembersInMenu);
        QList<qsizetype> listed(shown);
        std::iota(listed.begin(), listed.end(), 0);
        // The member in use is always listed, however far down a large group it is.
        for (qsizetype i = shown; i < group.members.size(); ++i) {
            if (group.members[i].name == group.selected) {
                listed.append(i);
                ++shown;
                break;
            }
        }
        for (const qsizetype i : std::as_const(listed)) {
            const MenuBarSnapshot::Member& member = group.members[i];
            QString text = menuTitle(member.name);
            const QString delay = delayText(member.delay);
            if (!delay.isEmpty())
                text += QLatin1Char('\t') + delay;
            QAction* action = addCheckable(*submenu, text, member.name == group.selected);
            action->setEnabled(group.isSelectable);
            QObject::connect(
                action, &QAction::triggered, submenu,
                [&actions, name = group.name, node = member.name] { actions.selectProxy(name, node); });
        }
        if (group.members.size() > shown)
            submenu->addAction(
                QStringLiteral("%1 more in the Policy page…").arg(group.members.size() - shown),
                [&actions] { actions.openWindow(); });
    }
}

void MenuBarBuilder::addHelperSection(QMenu& menu, const MenuBarSnapshot& snapshot, MenuBarActions& actions)
{
    if (!snapshot.helperStatus)
        return;
    switch (*snapshot.helperStatus) {
    case HelperStatus::unreachable:
        menu.addAction(QStringLiteral("Helper Unreachable"))->setEnabled(false);
        break;
    case HelperStatus::notRegistered:
    case HelperStatus::outdated:
        menu.addAction(QStringLiteral("Please Enable Helper"), [&actions] { actions.installHelper(); });
        break;
    case HelperStatus::ok:
        menu.addAction(QStringLiteral("Helper Version ") + snapshot.helperVersion)->setEnabled(false);
        break;
    }
}

} // namespace tarnwick
