#include "NetworkSetupCommand.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <algorithm>

namespace tarnwick::NetworkSetupCommand {

namespace {

constexpr int kMaxServiceLength = 255;
constexpr int kMaxBypassDomains = 64;
constexpr int kMaxDNSServers = 4;

struct ProtocolOptions
{
    Protocol protocol;
    const char* set;
    const char* state;
};

constexpr ProtocolOptions kProtocols[] = {
    {Protocol::web, "-setwebproxy", "-setwebproxystate"},
    {Protocol::secureWeb, "-setsecurewebproxy", "-setsecurewebproxystate"},
    {Protocol::socks, "-setsocksfirewallproxy", "-setsocksfirewallproxystate"},
};

const ProtocolOptions& optionsOf(Protocol protocol)
{
    for (const ProtocolOptions& options : kProtocols) {
        if (options.protocol == protocol)
            return options;
    }
    Q_UNREACHABLE();
}

bool validService(const QString& service)
{
    if (service.isEmpty() || service.size() > kMaxServiceLength || service.startsWith(QLatin1Char('-')))
        return false;
    return std::none_of(service.cbegin(), service.cend(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::optional<int> port(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535 || QString::number(value) != text)
        return std::nullopt;
    return value;
}

bool validDomain(const QString& domain)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9*.:_/\\[\\]-]{1,253}$"));
    return shape.match(domain).hasMatch() && !domain.startsWith(QLatin1Char('-'));
}

bool validDNSServer(const QString& server)
{
    QHostAddress address;
    return address.setAddress(server) && address.toString().compare(server, Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList setProxy(Protocol protocol, const QString& service, int port)
{
    return {QLatin1String(optionsOf(protocol).set), service, proxyHost, QString::number(port)};
}

QStringList setProxyOff(Protocol protocol, const QString& service)
{
    return {QLatin1String(optionsOf(protocol).state), service, QStringLiteral("off")};
}

QStringList setBypassDomains(const QString& service, const QStringList& domains)
{
    return QStringList{QStringLiteral("-setproxybypassdomains"), service} + domains;
}

QStringList setDNSServers(const QString& service, const QStringList& servers)
{
    return QStringList{QStringLiteral("-setdnsservers"), service} +
           (servers.isEmpty() ? QStringList{emptyDNS} : servers);
}

std::optional<Command> parse(const QString& program, const QStringList& arguments)
{
    if (program != executable || arguments.size() < 2 || !validService(arguments.at(1)))
        return std::nullopt;
    const QString& option = arguments.at(0);
    Command command{Command::Kind::setProxy, Protocol::web, arguments.at(1), 0, {}};
    for (const ProtocolOptions& options : kProtocols) {
        command.protocol = options.protocol;
        if (option == QLatin1String(options.set)) {
            const std::optional<int> value = arguments.size() == 4 ? port(arguments.at(3)) : std::nullopt;
            if (!value || arguments.at(2) != proxyHost)
                return std::nullopt;
            command.port = *value;
            return command;
        }
        if (option == QLatin1String(options.state)) {
            if (arguments.size() != 3 || arguments.at(2) != QLatin1String("off"))
                return std::nullopt;
            command.kind = Command::Kind::setProxyOff;
            return command;
        }
    }
    const QStringList values = arguments.mid(2);
    if (option == QLatin1String("-setproxybypassdomains")) {
        if (values.size() > kMaxBypassDomains || !std::all_of(values.cbegin(), values.cend(), validDomain))
            return std::nullopt;
        command.kind = Command::Kind::setBypassDomains;
        command.values = values;
        return command;
    }
    if (option == QLatin1String("-setdnsservers")) {
        command.kind = Command::Kind::setDNSServers;
        if (values == QStringList{emptyDNS})
            return command;
        if (values.isEmpty() || values.size() > kMaxDNSServers ||
            !std::all_of(values.cbegin(), values.cend(), validDNSServer))
            return std::nullopt;
        command.values = values;
        return command;
    }
    return std::nullopt;
}

} // namespace tarnwick::NetworkSetupCommand
