#pragma once

#include "DesktopProxySettings.h"

#include <memory>
#include <optional>

namespace tarnwick {

// KDE's proxy settings: the [Proxy Settings] group of kioslaverc (ProxyType, httpProxy, httpsProxy,
// socksProxy, NoProxyFor). Only those lines change; every other line of the file stays as it was. After a
// change the running KDE programs are told to read it again.
class KdeProxySettings final : public DesktopProxySettings
{
public:
    // Nothing when the user has no kioslaverc and is not in a KDE session.
    static std::unique_ptr<KdeProxySettings> find();
    explicit KdeProxySettings(QString path) : m_path(std::move(path)) {}

    QString name() const override { return QStringLiteral("KDE"); }
    QJsonValue read(Part part) override;
    void write(Part part, const QJsonValue& value) override;
    void announce() override;

    // $XDG_CONFIG_HOME/kioslaverc, or ~/.config/kioslaverc.
    static QString defaultPath();

    // The group's entry, or nothing; changed with every other line kept.
    static std::optional<QString> entry(const QByteArray& file, const QString& key);
    static QByteArray withEntry(const QByteArray& file, const QString& key,
                                const std::optional<QString>& value);

    static inline const QString group = QStringLiteral("Proxy Settings");

protected:
    QJsonValue proxyValue(Part part, const QString& host, int port) const override;
    QJsonValue manualMode() const override;
    QJsonValue bypassValue(const QStringList& domains) const override;

private:
    void set(const QString& key, const std::optional<QString>& value);

    QString m_path;
};

} // namespace tarnwick
