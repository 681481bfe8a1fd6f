#pragma once

#include <QString>
#include <QUrl>

namespace tarnwick {

class Settings;

// Host, port and bearer secret of the kernel's external controller.
struct ControllerEndpoint
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 9090;
    // Empty: requests carry no authentication.
    QString secret;

    // "http://host:port", an IPv6 host in brackets; invalid when the host cannot form a URL, and then no
    // request is sent with it.
    QUrl baseURL() const;
    bool isValid() const { return baseURL().isValid(); }

    // "apiHost" (default "127.0.0.1"), "apiPort" (9090 when 0 or never written) and "apiSecret"; an empty or
    // absent secret is replaced by a fresh one, which is stored.
    static ControllerEndpoint fromSettings(Settings& settings);
    // The "external-controller:" and "secret:" lines of a kernel configuration file, later lines winning;
    // the defaults when the file cannot be read. An IPv6 host is written in brackets ("[::1]:9090") and
    // kept without them.
    static ControllerEndpoint fromConfigFile(const QString& path);
    // A fresh random secret: a UUID's 32 hexadecimal digits.
    static QString generateSecret();

    bool operator==(const ControllerEndpoint&) const = default;
};

} // namespace tarnwick
