#include "SnifferSection.h"

#include "SettingsForm.h"

#include <QVBoxLayout>

namespace tarnwick {

SnifferSection::SnifferSection(Settings& settings, QWidget* parent)
    : QWidget(parent), m_form(new SettingsForm(settings, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
    m_form->addGroup(
        QStringLiteral("Sniffer"),
        QStringLiteral("Reads the domain a connection is for from its first bytes, so that domain "
                       "rules match connections made to a bare address."));
    m_form->addEngineFields({
        {"snifferEnable", "Sniff domains"},
        {"snifferOverrideDestination", "Connect to the sniffed domain"},
        {"snifferForceDnsMapping", "Sniff fake-IP and mapped connections"},
        {"snifferParsePureIp", "Sniff connections to bare addresses"},
    });
    m_form->addGroup(QStringLiteral("Protocols"));
    m_form->addEngineFields({
        {"snifferSniffTlsPorts", "TLS ports", "One port or range per line."},
        {"snifferTlsOverrideDestination", "Connect TLS to the sniffed domain"},
        {"snifferSniffHttpPorts", "HTTP ports", "One port or range per line, such as 8080-8880."},
        {"snifferHttpOverrideDestination", "Connect HTTP to the sniffed domain"},
        {"snifferSniffQuicPorts", "QUIC ports"},
        {"snifferQuicOverrideDestination", "Connect QUIC to the sniffed domain"},
    });
    m_form->addGroup(QStringLiteral("Domains and Addresses"));
    m_form->addEngineFields({
        {"snifferSkipDomain", "Never sniff these domains",
         "One per line; +.example.com covers its subdomains."},
        {"snifferForceDomain", "Always sniff these domains"},
        {"snifferSkipSrcAddress", "Skip these sources", "IP ranges, one per line."},
        {"snifferSkipDstAddress", "Skip these destinations", "IP ranges, one per line."},
    });
    m_form->finish();
}

} // namespace tarnwick
