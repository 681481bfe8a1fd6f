#pragma once

#include "DesktopProxySettings.h"

#include <memory>

namespace tarnwick {

// GNOME's proxy settings through gsettings: org.gnome.system.proxy (mode, ignore-hosts) and its http,
// https and socks children (host, port). Values are kept in gsettings' own text form, so that what was
// read is written back unchanged.
class GnomeProxySettings final : public DesktopProxySettings
{
public:
    // Nothing when gsettings or GNOME's proxy schema is not installed.
    static std::unique_ptr<GnomeProxySettings> find();
    explicit GnomeProxySettings(QString gsettings) : m_gsettings(std::move(gsettings)) {}

    QString name() const override { return QStringLiteral("GNOME"); }
    QJsonValue read(Part part) override;
    void write(Part part, const QJsonValue& value) override;

    // A GVariant string literal.
    static QString quoted(const QString& text);

    static inline const QString schema = QStringLiteral("org.gnome.system.proxy");

protected:
    QJsonValue proxyValue(Part part, const QString& host, int port) const override;
    QJsonValue manualMode() const override;
    QJsonValue bypassValue(const QStringList& domains) const override;

private:
    QString get(const QString& schema, const QString& key) const;
    void set(const QString& schema, const QString& key, const QString& value) const;

    QString m_gsettings;
};

} // namespace tarnwick
