#pragma once

#include "app/CoreXPCLauncher.h"
#include "app/HelperClientError.h"
#include "platform/HelperRegistration.h"
#include "platform/IPCFrame.h"

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <memory>
#include <optional>

class QLocalSocket;

namespace tarnwick {

enum class HelperStatus
{
    ok,
    notRegistered,
    outdated,
    unreachable,
};

// The one-shot guard of a helper call: the reply, the connection's failure and the time-out race, and only
// the first to arrive settles the call; the others are ignored.
class ResumeState final : public QObject
{
    Q_OBJECT

public:
    void resume(const QJsonObject& reply);
    void resume(const HelperClientError& error);
    bool isResumed() const { return m_resumed; }
    // The reply, or the failure thrown.
    QJsonObject result() const;

Q_SIGNALS:
    void resumed();

private:
    bool claim();

    bool m_resumed = false;
    QJsonObject m_reply;
    std::optional<HelperClientError> m_error;
};

// The application's only client of the helper. Calls share one cached connection, each under its own
// time-out; a connection that fails is dropped and the next call opens a new one. Where the application
// starts the helper itself (HelperRegistration), a call that finds no helper listening starts it and waits
// for its socket.
class HelperClient final : public QObject, public CoreXPCLauncher
{
    Q_OBJECT

public:
    struct Timeouts
    {
        std::chrono::milliseconds startKernel{5000};
        std::chrono::milliseconds stopKernel{8000};
        std::chrono::milliseconds runSystemCommand{15000};
        std::chrono::milliseconds getVersion{5000};
        std::chrono::milliseconds installUpdate{60000};
        std::chrono::milliseconds exitForUpdate{5000};
        // How long a call waits for a helper it started to listen.
        std::chrono::milliseconds helperLaunch{5000};
    };

    // The default socket path ($TARNWICK_HELPER_SOCKET overrides) and registration.
    explicit HelperClient(QObject* parent = nullptr);
    HelperClient(HelperRegistration::Options registration, Timeouts timeouts, QObject* parent = nullptr);
    ~HelperClient() override;

    const QString& socketPath() const { return m_registration.options().socketPath; }

    // Each throws HelperClientError: helperError with the helper's text, "XPC operation timed out." when no
    // reply came in time; connectionFailed when there is no connection.
    QCoro::Task<qint32> startKernel(QString executablePath, QStringList arguments,
                                    QMap<QString, QString> environment, QString logFile) override;
    QCoro::Task<> stopKernel(qint32 pid) override;
    QCoro::Task<> runSystemCommand(QString command, QStringList arguments) override;
    // Answered by the helper within the bound; the call itself waits a little longer for the answer.
    QCoro::Task<std::optional<QString>> waitForKernelExit(qint32 pid,
                                                          std::chrono::milliseconds bound) override;
    QCoro::Task<QString> getVersion();
    // True once installed; a refusal throws its text, or "Install failed".
    QCoro::Task<bool> installUpdate(QString sourcePath, QString targetPath);
    // Whether the helper agreed to exit.
    QCoro::Task<bool> exitForUpdate();

    // notRegistered unless the registration is enabled; unreachable when the version query fails;
    // outdated when the helper's version is not this build's.
    QCoro::Task<HelperStatus> checkStatus();
    bool isRegistered() const;
    // Registers (or replaces) the helper. A failure, or a registration still waiting for the user's
    // approval, is logged with what the user has to do; isRegistered() tells the outcome.
    QCoro::Task<> registerHelper();
    // Unregisters the helper and drops the cached connection.
    QCoro::Task<> unregisterHelper();

    // The version this build expects of its helper: its own.
    static QString expectedVersion();

private:
    QCoro::Task<QJsonObject> call(QString operation, QJsonObject request, std::chrono::milliseconds timeout);
    QCoro::Task<QLocalSocket*> connection();
    // The live connection, or a new one; nothing when no helper listens. Throws HelperClientError
    // (connectionFailed with its reason) when the socket's directory or the listening process is not to
    // be trusted.
    QLocalSocket* cachedConnection();
    void readReplies(QLocalSocket* socket);
    void connectionLost(QLocalSocket* socket);
    void dropConnection();

    HelperRegistration m_registration;
    Timeouts m_timeouts;
    QMutex m_connectionLock; // guards m_connection
    QPointer<QLocalSocket> m_connection;
    IPCFrame::Reader m_reader;
    struct Pending
    {
        QLocalSocket* socket; // the connection the request went out on
        std::shared_ptr<ResumeState> state;
    };
    QHash<qint64, Pending> m_pending;
    qint64 m_nextRequestId = 0;
    bool m_launchingHelper = false;
};

} // namespace tarnwick
