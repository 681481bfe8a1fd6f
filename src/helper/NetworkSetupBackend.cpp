#include "NetworkSetupBackend.h"

#include "GnomeProxySettings.h"
#include "HelperError.h"
#include "KdeProxySettings.h"
#include "config/AtomicFile.h"
#include "platform/Logging.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <csignal>

namespace tarnwick {

namespace {

const QString kClient = QStringLiteral("client");
const QString kPid = QStringLiteral("pid");
const QString kStart = QStringLiteral("start");
const QString kDesktop = QStringLiteral("desktop");
const QString kActive = QStringLiteral("active");
const QString kDns = QStringLiteral("dns");

using Part = DesktopProxySettings::Part;

} // namespace

namespace ProcessIdentity {

qint64 startTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold blanks; the fields after it are counted from field 3.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toLongLong() : -1;
}

bool isAlive(qint64 pid, qint64 start)
{
    const qint64 now = startTime(pid);
    return now >= 0 && now == start;
}

} // namespace ProcessIdentity

NetworkSetupBackend::NetworkSetupBackend(QString stateFile,
                                         std::vector<std::unique_ptr<DesktopProxySettings>> desktops,
                                         NetworkDns dns, QObject* parent)
    : QObject(parent), m_stateFile(std::move(stateFile)), m_desktops(std::move(desktops)),
      m_dns(std::move(dns)), m_clientTimer(new QTimer(this))
{
    m_clientTimer->setInterval(clientCheckInterval);
    connect(m_clientTimer, &QTimer::timeout, this, &NetworkSetupBackend::checkClient);
    // Left by a helper that stopped while the application ran: watched again, or restored at once.
    if (hasSavedState()) {
        m_clientTimer->start();
        checkClient();
    }
}

std::unique_ptr<NetworkSetupBackend> NetworkSetupBackend::forThisSession(QString stateFile, QObject* parent)
{
    std::vector<std::unique_ptr<DesktopProxySettings>> desktops;
    if (std::unique_ptr<GnomeProxySettings> gnome = GnomeProxySettings::find())
        desktops.push_back(std::move(gnome));
    if (std::unique_ptr<KdeProxySettings> kde = KdeProxySettings::find())
        desktops.push_back(std::move(kde));
    QStringList names;
    for (const auto& desktop : desktops)
        names.append(desktop->name());
    qCInfo(lcHelper, "Desktop proxy settings: %s",
           names.isEmpty() ? "none found" : qUtf8Printable(names.join(QStringLiteral(", "))));
    return std::make_unique<NetworkSetupBackend>(std::move(stateFile), std::move(desktops), NetworkDns(),
                                                 parent);
}

bool NetworkSetupBackend::hasSavedState() const
{
    return QFile::exists(m_stateFile);
}

QJsonObject NetworkSetupBackend::load() const
{
    QFile file(m_stateFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void NetworkSetupBackend::save(const QJsonObject& state)
{
    if (!state.contains(kDesktop) && state.value(kDns).toObject().isEmpty()) {
        QFile::remove(m_stateFile);
        m_clientTimer->stop();
        return;
    }
    try {
        AtomicFile::write(m_stateFile, QJsonDocument(state).toJson());
    } catch (const FileError& error) {
        throw HelperError(QStringLiteral("Cannot save the network settings to restore: ") +
                          error.description());
    }
    m_clientTimer->start();
}

void NetworkSetupBackend::remember(QJsonObject& state, qint64 client)
{
    state.insert(kClient, QJsonObject{{kPid, client}, {kStart, ProcessIdentity::startTime(client)}});
}

void NetworkSetupBackend::run(const NetworkSetupCommand::Command& command, qint64 client)
{
    using Kind = NetworkSetupCommand::Command::Kind;
    QJsonObject state = load();
    switch (command.kind) {
    case Kind::setProxy:
    case Kind::setBypassDomains: {
        if (m_desktops.empty())
            throw HelperError(QStringLiteral("No desktop proxy settings to change: neither GNOME's gsettings "
                                             "nor KDE's kioslaverc is present"));
        if (!state.contains(kDesktop)) {
            QJsonObject saved;
            for (const auto& desktop : m_desktops) {
                QJsonObject parts;
                for (const Part part : DesktopProxySettings::parts)
                    parts.insert(DesktopProxySettings::partName(part), desktop->read(part));
                saved.insert(desktop->name(), parts);
            }
            state.insert(kDesktop, saved);
        }
        remember(state, client);
        save(state);
        for (const auto& desktop : m_desktops) {
            if (command.kind == Kind::setProxy)
                desktop->pointAt(command.protocol, NetworkSetupCommand::proxyHost, command.port);
            else
                desktop->setBypass(command.values);
            desktop->announce();
        }
        if (command.kind == Kind::setProxy) {
            QJsonArray active = state.value(kActive).toArray();
            const QString name =
                DesktopProxySettings::partName(DesktopProxySettings::partOf(command.protocol));
            if (!active.contains(name))
                active.append(name);
            state.insert(kActive, active);
            save(state);
        }
        return;
    }
    case Kind::setProxyOff:
        proxyOff(state, command.protocol);
        save(state);
        return;
    case Kind::setDNSServers: {
        QJsonObject dns = state.value(kDns).toObject();
        if (command.values.isEmpty()) {
            // Nothing of ours to undo: the user's own servers stay.
            if (!dns.contains(command.service))
                return;
            m_dns.revert(dns.value(command.service).toObject());
            dns.remove(command.service);
        } else {
            const QJsonObject undo = m_dns.set(command.service, command.values);
            if (!dns.contains(command.service))
                dns.insert(command.service, undo);
            remember(state, client);
        }
        state.insert(kDns, dns);
        save(state);
        return;
    }
    }
}

void NetworkSetupBackend::writeBack(DesktopProxySettings& desktop, const QJsonObject& saved, Part part)
{
    const QString name = DesktopProxySettings::partName(part);
    if (saved.contains(name))
        desktop.write(part, saved.value(name));
}

void NetworkSetupBackend::proxyOff(QJsonObject& state, NetworkSetupCommand::Protocol protocol)
{
    if (!state.contains(kDesktop))
        return;
    const QJsonObject saved = state.value(kDesktop).toObject();
    const Part part = DesktopProxySettings::partOf(protocol);
    QJsonArray active = state.value(kActive).toArray();
    for (qsizetype i = active.size() - 1; i >= 0; --i) {
        if (active.at(i).toString() == DesktopProxySettings::partName(part))
            active.removeAt(i);
    }
    const bool last = active.isEmpty();
    for (const auto& desktop : m_desktops) {
        const QJsonObject parts = saved.value(desktop->name()).toObject();
        writeBack(*desktop, parts, part);
        if (last) {
            writeBack(*desktop, parts, Part::bypass);
            writeBack(*desktop, parts, Part::mode);
        }
        desktop->announce();
    }
    if (last) {
        state.remove(kDesktop);
        state.remove(kActive);
    } else {
        state.insert(kActive, active);
    }
}

void NetworkSetupBackend::checkClient()
{
    const QJsonObject client = load().value(kClient).toObject();
    if (!client.isEmpty() &&
        ProcessIdentity::isAlive(client.value(kPid).toInteger(), client.value(kStart).toInteger()))
        return;
    qCWarning(lcHelper,
              "The application (PID %lld) ended without restoring the network settings; restoring them",
              static_cast<long long>(client.value(kPid).toInteger()));
    restore();
}

void NetworkSetupBackend::restore()
{
    const QJsonObject state = load();
    if (state.isEmpty())
        return;
    const QJsonObject saved = state.value(kDesktop).toObject();
    for (const auto& desktop : m_desktops) {
        if (!saved.contains(desktop->name()))
            continue;
        const QJsonObject parts = saved.value(desktop->name()).toObject();
        try {
            for (const Part part : DesktopProxySettings::parts)
                writeBack(*desktop, parts, part);
            desktop->announce();
        } catch (const HelperError& error) {
            qCWarning(lcHelper, "%s proxy settings not restored: %s", qUtf8Printable(desktop->name()),
                      qUtf8Printable(error.description()));
        }
    }
    const QJsonObject dns = state.value(kDns).toObject();
    for (auto it = dns.begin(); it != dns.end(); ++it) {
        try {
            m_dns.revert(it.value().toObject());
        } catch (const HelperError& error) {
            qCWarning(lcHelper, "DNS servers of \"%s\" not restored: %s", qUtf8Printable(it.key()),
                      qUtf8Printable(error.description()));
        }
    }
    QFile::remove(m_stateFile);
    m_clientTimer->stop();
    qCInfo(lcHelper, "Network settings restored");
}

} // namespace tarnwick
