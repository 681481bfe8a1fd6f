#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

namespace tarnwick {

class MihomoClient;

// "Copy Shell Export": the lines that point command-line tools at the kernel's proxy port.
class ShellExport final
{
public:
    struct Interface
    {
        QString name;
        bool isUp = false;
        bool isRunning = false;
        bool isLoopback = false;
        QList<QHostAddress> addresses;
    };

    static constexpr int fallbackPort = 7890;

    // The first IPv4 address of the first interface that is up, running, not a loopback and named
    // "en…"; "127.0.0.1" when there is none.
    static QString host(const QList<Interface>& interfaces);
    static QList<Interface> machineInterfaces();
    // The port the system proxy points at; 7890 without a configuration.
    static int port(const std::optional<QJsonObject>& configuration);
    static QString text(const QString& host, int port);

    // Asks the kernel for its ports (7890 when it does not answer) and builds the snippet.
    static QCoro::Task<QString> build(MihomoClient client);
};

} // namespace tarnwick
