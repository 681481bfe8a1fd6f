#pragma once

#include "platform/Error.h"

#include <QString>
#include <chrono>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

// The helper's registration status, as the login-items service of the original platform reports it.
enum class HelperRegistrationStatus
{
    notRegistered,
    enabled,
    requiresApproval,
    notFound,
};

class HelperRegistrationError final : public Error
{
public:
    using Error::Error;
};

// Makes sure the helper runs for this user. Where a systemd user manager answers, the helper is a user
// unit ("app.tarnwick.helper.service") that registering installs and enables. Elsewhere (no user session,
// as on servers and CI) the application starts the helper itself whenever it finds none listening; there
// the helper counts as registered as long as its executable is present.
class HelperRegistration final
{
public:
    enum class Mode
    {
        systemdUser,
        selfStart,
    };

    struct Options
    {
        QString socketPath;
        // Empty when no helper executable was found.
        QString helperExecutable;
        // Where user units live ($XDG_CONFIG_HOME/systemd/user).
        QString unitDirectory;
        QString systemctl = QStringLiteral("systemctl");
        // Bound of each systemctl call, and of the wait for a helper to start or stop listening.
        std::chrono::milliseconds bound = std::chrono::seconds(10);
    };

    static inline const QString unitName = QStringLiteral("app.tarnwick.helper.service");

    // The socket path of HelperSocketPath; the helper from $TARNWICK_HELPER_PATH, else "tarnwick-helper"
    // beside the running executable.
    static Options defaultOptions();

    explicit HelperRegistration(Options options);

    const Options& options() const { return m_options; }
    // Asks systemctl once whether a user manager answers.
    Mode mode() const;
    HelperRegistrationStatus status() const;

    QString unitFilePath() const;
    // The unit that runs the helper on the socket path.
    QString unitFileText() const;

    // systemd: writes the unit, enables it and (re)starts it. Self-start: stops a helper already listening
    // (it may be an older build) and starts this one. Either way it returns once the helper listens.
    // Throws HelperRegistrationError.
    QCoro::Task<> registerService();
    // systemd: disables and stops the unit and removes it. Self-start: stops the helper listening.
    QCoro::Task<> unregisterService();

    // Self-start: starts the helper detached from the application (so it serves the next launch too), its
    // output appended to helper.log beside the socket. False when it cannot be started.
    bool launchHelper() const;

    // True when something accepts connections on the socket path.
    bool isListening() const;
    // The pid of the process listening on the socket path, from its peer credentials, when it runs as
    // this user.
    std::optional<qint64> listeningHelperPid() const;

private:
    static QCoro::Task<> runSystemctl(Options options, QStringList arguments);
    static QCoro::Task<> waitUntil(Options options, bool listening);
    static QCoro::Task<> stopListeningHelper(Options options);
    void writeUnitFile() const;

    Options m_options;
    mutable std::optional<Mode> m_mode;
};

} // namespace tarnwick
