#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace tarnwick {

// The outline of a configuration: what the proxy, provider and rule views list, in file order.
struct ConfigStructure
{
    QStringList proxyGroups;
    QStringList proxies;
    QStringList proxyProviders;
    QMap<QString, QString> proxyProviderURLs;
    QStringList ruleProviders;
    QMap<QString, QString> ruleProviderURLs;
    QStringList rules;

    bool operator==(const ConfigStructure&) const = default;
};

// A quick outline of a profile or of the compiled runtime configuration without composing it. The
// compiled JSON is read directly; anything else is scanned line by line, which tolerates YAML that the
// YAML library rejects. Never throws: what cannot be read yields empty or partial fields.
namespace ConfigParser {

ConfigStructure parse(const QString& filePath);
ConfigStructure parseBytes(const QByteArray& bytes);
QStringList extractGroupOrder(const QString& filePath);

} // namespace ConfigParser
} // namespace tarnwick
