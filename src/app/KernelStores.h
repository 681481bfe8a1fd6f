#pragma once

#include "controller/ConnectionStore.h"
#include "controller/LogStore.h"
#include "controller/MihomoClient.h"
#include "controller/ProxyStore.h"
#include "controller/TrafficStore.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <functional>
#include <optional>

namespace tarnwick {

class Settings;

// The four live stores of the running kernel, and their part of its life: they follow the kernel's
// streams from the moment it is ready until it stops, and they talk to whatever controller is current.
class KernelStores final : public QObject
{
    Q_OBJECT

public:
    static constexpr int trafficHistoryLimit = 60;
    static constexpr int logLimit = 2000;
    // The log level followed until the user picks another.
    static const QString defaultLogLevel;
    static const QString logLevelKey;

    // `runtimeConfig`: the compiled configuration the proxy store reads its placeholders from.
    KernelStores(const MihomoClient& client, Settings& settings, const QString& runtimeConfig,
                 QObject* parent = nullptr);

    ProxyStore& proxy() const { return *m_proxy; }
    TrafficStore& traffic() const { return *m_traffic; }
    ConnectionStore& connections() const { return *m_connections; }
    LogStore& logs() const { return *m_logs; }

    // The level the log is followed at; the choice is remembered and a followed log switches at once.
    QString logLevel() const;
    void setLogLevel(const QString& level);
    // The logs page's pause: no new lines until resumed, also across kernel restarts.
    bool isLogPaused() const { return m_logPaused; }
    void setLogPaused(bool paused);

    // A new controller endpoint for every store.
    void setClient(const MihomoClient& client);
    // The active profile's name, recorded with every flow.
    void setProfileNameProvider(std::function<std::optional<QString>()> provider);

    // Reads the runtime configuration's structure again and refreshes groups and providers.
    QCoro::Task<> refreshProxies();
    // The kernel answers: a new recording session begins and the streams are followed.
    void kernelReady();
    // The kernel stops, restarts or is replaced: the streams end; what they showed stays.
    void kernelStopped();

private:
    Settings& m_settings;
    bool m_ready = false;
    bool m_logPaused = false;
    ProxyStore* m_proxy;
    TrafficStore* m_traffic;
    ConnectionStore* m_connections;
    LogStore* m_logs;
};

} // namespace tarnwick
