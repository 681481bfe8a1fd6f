#include "NetworkSection.h"

#include "SettingsForm.h"
#include "config/EngineSettings.h"
#include "platform/Settings.h"

#include <QPointer>
#include <QTcpServer>
#include <QVBoxLayout>

namespace tarnwick {

namespace {

struct PortRow
{
    const char* key;
    const char* label;
    const char* name; // in a sentence
};

const PortRow kPorts[] = {
    {"mixedPort", "Mixed port", "mixed port"},    {"httpPort", "HTTP port", "HTTP port"},
    {"socksPort", "SOCKS port", "SOCKS port"},    {"redirPort", "Redirect port", "redirect port"},
    {"tproxyPort", "TProxy port", "TProxy port"},
};

// The port a port setting opens now: its entry, or for the mixed port the one it opens when never set.
qint64 openPort(const Settings& settings, const QString& key)
{
    const qint64 stored = settings.integer(key, 0);
    if (stored < 1 && key == QLatin1String("mixedPort"))
        return EngineSettings::defaultMixedPort;
    return stored;
}

// Why `port` cannot be the value of `key`: another port setting has it, or another program holds it.
QString portProblem(const Settings& settings, const QString& key, const QString& text)
{
    const qint64 port = text.toLongLong();
    if (port < 1 && key != QLatin1String("mixedPort"))
        return {};
    for (const PortRow& other : kPorts) {
        if (key != QLatin1String(other.key) && openPort(settings, QLatin1String(other.key)) == port)
            return QStringLiteral("The %1 already uses %2.").arg(QString::fromUtf8(other.name)).arg(port);
    }
    if (port < 1)
        return {};
    // The kernel holds the ports of the other settings, checked above; any other holder is another program.
    QTcpServer probe;
    if (probe.listen(QHostAddress::Any, quint16(port)))
        return {};
    if (probe.serverError() == QAbstractSocket::SocketAccessError)
        return QStringLiteral("Port %1 needs privileges the kernel does not have; choose one from 1024 up.")
            .arg(port);
    return QStringLiteral("Port %1 is in use by another program.").arg(port);
}

} // namespace

NetworkSection::NetworkSection(Settings& settings, QWidget* parent)
    : QWidget(parent), m_form(new SettingsForm(settings, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
    m_form->addGroup(
        QStringLiteral("Inbound Ports"),
        QStringLiteral("Where programs reach the proxy. The mixed port speaks HTTP and SOCKS; empty "
                       "or 0 closes a port."));
    for (const PortRow& row : kPorts) {
        SettingField* field =
            m_form->addField(SettingField::engine(QLatin1String(row.key), QString::fromUtf8(row.label)));
        field->setExtraCheck([&settings, key = QString::fromLatin1(row.key)](const QString& text) {
            return portProblem(settings, key, text);
        });
    }
    m_form->addGroup(QStringLiteral("LAN Access"));
    m_form->addEngineFields({
        {"allowLan", "Allow connections from the LAN"},
        {"bindAddress", "Listen on address", "* for every address."},
        {"lanAllowedIPs", "Allowed addresses", "IP ranges, one per line."},
        {"lanDisallowedIPs", "Refused addresses", "IP ranges, one per line."},
        {"authentication", "Users", "One per line: user:password. Empty: no sign-in."},
        {"skipAuthPrefixes", "No sign-in from", "IP ranges; empty: this machine only."},
    });
    m_form->addGroup(QStringLiteral("Connections"));
    m_form->addEngineFields({
        {"ipv6Enabled", "IPv6"},
        {"tcpConcurrent", "Race all addresses of a name"},
        {"unifiedDelay", "Unified latency", "Latency tests leave out the connection handshake."},
        {"inboundTfo", "TCP Fast Open"},
        {"inboundMptcp", "Multipath TCP"},
        {"interfaceName", "Outgoing interface", "Empty: the system's choice."},
        {"findProcessMode",
         "Find the program of a connection",
         nullptr,
         {QStringLiteral("always"), QStringLiteral("strict"), QStringLiteral("off")}},
        {"keepAliveInterval", "Keep-alive interval (seconds)"},
        {"keepAliveIdle", "Keep-alive idle (seconds)"},
        {"disableKeepAlive", "No TCP keep-alive"},
        {"quicBlockMode",
         "Block QUIC",
         "QUIC to blocked sites falls back to TCP, which the proxy handles better.",
         {QStringLiteral("off"), QStringLiteral("all"), QStringLiteral("overseas")}},
    });
    m_form->addGroup(QStringLiteral("System Proxy"));
    m_form->addEngineFields({
        {"systemProxyBypass", "Bypass the proxy for",
         "Comma-separated hosts and ranges that programs reach directly; applied the next time the system "
         "proxy is switched on."},
    });
    m_form->finish();
}

} // namespace tarnwick
