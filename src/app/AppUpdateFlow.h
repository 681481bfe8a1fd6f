#pragma once

#include "update/AppBundle.h"
#include "update/AppUpdateResult.h"

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QObject>
#include <chrono>
#include <functional>

namespace tarnwick {

class HelperClient;
class Settings;

// The application's own update: checks the release feed, downloads and unpacks the newer bundle, has the
// helper put it in place of the running one, cleans up what the application changed on the machine and
// relaunches the new bundle. Its progress is phase(), for the update window, the menu and the control
// socket. Main thread only.
class AppUpdateFlow final : public QObject
{
    Q_OBJECT

public:
    struct Hooks
    {
        // Switches the system proxy and TUN's DNS back, stops the kernel and writes the modes for the
        // next launch (AppState's shutdown).
        std::function<QCoro::Task<>()> cleanup;
        // Ends the process with status 0 once the relaunch is under way.
        std::function<void()> terminate;
    };

    static inline const QString includeAlphaKey = QStringLiteral("update.includeAlpha");
    static inline const QString autoCheckKey = QStringLiteral("update.autoCheck");
    static inline const QString lastCheckKey = QStringLiteral("lastAppUpdateCheckDate");
    // An automatic check this soon after the last one does nothing.
    static constexpr std::chrono::seconds automaticCheckInterval{900};

    AppUpdateFlow(Settings& settings, HelperClient& helper, AppBundle bundle, Hooks hooks,
                  QObject* parent = nullptr);

    const AppUpdatePhase& phase() const { return m_phase; }
    const AppBundle& bundle() const { return m_bundle; }
    bool isUpdating() const { return m_isUpdating; }

    // Never throws: the outcome is in phase().
    QCoro::Task<> check(bool automatic);
    // For the download URL of an `available` result. Never throws: a failure ends in phase() `failed`
    // with the running application as it was; success ends the process.
    QCoro::Task<> performUpdate(QString downloadURL);

Q_SIGNALS:
    void phaseChanged();
    // A manual check brings up the update window.
    void updateWindowRequested();

private:
    void setPhase(const AppUpdatePhase& phase);
    QCoro::Task<QString> download(QUrl url);
    QCoro::Task<QString> extract(QString archive);
    QCoro::Task<> cleanupAndRelaunch();

    Settings& m_settings;
    HelperClient& m_helper;
    AppBundle m_bundle;
    Hooks m_hooks;
    QNetworkAccessManager m_network;         // checks
    QNetworkAccessManager m_downloadNetwork; // the dedicated download session
    AppUpdatePhase m_phase;
    bool m_isUpdating = false;
};

} // namespace tarnwick
