#pragma once

#include "MenuBarBuilder.h"
#include "MenuBarIconRenderer.h"
#include "platform/BrowserAutomation.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>
#include <qcoro/qcorotask.h>

class QMenu;

namespace tarnwick {

class AppState;
class DesktopFrontend;

// Owns the tray icon: draws it from the kernel's state and rates, rebuilds its menu each time it opens
// and carries out the menu's commands. Failures of commands go to standard output, "[Tarnwick] …".
class MenuBarManager final : public QObject, public MenuBarActions
{
    Q_OBJECT

public:
    MenuBarManager(AppState& state, DesktopFrontend& frontend, QObject* parent = nullptr);
    ~MenuBarManager() override;

    // Whether the desktop shows tray icons at all.
    bool isTrayAvailable() const;
    QSystemTrayIcon& trayIcon() { return m_tray; }
    QMenu& menu() { return *m_menu; }
    const MenuBarIconRenderer& renderer() const { return m_renderer; }
    MenuBarSnapshot snapshot() const;
    // Fills the menu as it is when it opens.
    void rebuildMenu();

    void startKernel() override;
    void stopKernel() override;
    void restartKernel() override;
    void setMode(OutboundMode mode) override;
    void setSystemProxy(bool enabled) override;
    void setTun(bool enabled) override;
    void activateProfile(const ProfileNode& profile) override;
    void importSubscription() override;
    void addLocalProfile() override;
    void editActiveProfile() override;
    void revealActiveProfile() override;
    void selectProxy(const QString& group, const QString& member) override;
    void testLatency(const QString& group) override;
    void installHelper() override;
    void setIconMode(MenuBarIconMode mode) override;
    void copyShellExport() override;
    // Opens the rule editor on a DOMAIN-SUFFIX rule for the frontmost browser's page, or says why not.
    void addRuleForWebpage() override;
    void setBrowserAutomation(std::unique_ptr<BrowserAutomation> automation)
    {
        m_browsers = std::move(automation);
    }
    void openWindow() override;
    void quit() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void shellExportCopied(const QString& text);
    // Why "Add Rule for Current Webpage…" found no page.
    void webpageCaptureFailed(const QString& problem);

private:
    void updateIcon();
    void kernelStatusChanged();
    std::optional<ProfileNode> activeProfile() const;
    static QCoro::Task<> selectProxyTask(QPointer<MenuBarManager> self, QString group, QString member);
    static QCoro::Task<> testLatencyTask(QPointer<MenuBarManager> self, QString group);
    static QCoro::Task<> refreshHelper(QPointer<MenuBarManager> self);
    static QCoro::Task<> applyMode(QPointer<MenuBarManager> self, OutboundMode mode);
    static QCoro::Task<> copyShellExportTask(QPointer<MenuBarManager> self);
    static QCoro::Task<> installHelperTask(QPointer<MenuBarManager> self);

    AppState& m_state;
    DesktopFrontend& m_frontend;
    QSystemTrayIcon m_tray;
    std::unique_ptr<QMenu> m_menu;
    MenuBarIconRenderer m_renderer;
    qint64 m_iconKey = 0; // the image the tray shows
    MenuBarIconMode m_iconMode = MenuBarIconMode::iconAndSpeed;
    qint64 m_upload = 0;
    qint64 m_download = 0;
    std::optional<HelperStatus> m_helperStatus;
    QString m_helperVersion;
    std::unique_ptr<BrowserAutomation> m_browsers;
};

} // namespace tarnwick
