#include "TunSection.h"

#include "SettingsForm.h"

#include <QVBoxLayout>

namespace tarnwick {

TunSection::TunSection(Settings& settings, QWidget* parent)
    : QWidget(parent), m_form(new SettingsForm(settings, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_form);
    m_form->addGroup(
        QStringLiteral("Device"),
        QStringLiteral("TUN mode routes every program's traffic through the kernel. It is switched "
                       "on and off from the tray menu and needs the privileged helper (Helper "
                       "section)."));
    m_form->addEngineFields({
        {"tunStack",
         "Network stack",
         nullptr,
         {QStringLiteral("mixed"), QStringLiteral("gvisor"), QStringLiteral("system")}},
        {"tunDevice", "Device name", "Empty: the kernel chooses one."},
        {"tunMtu", "MTU"},
        {"udpTimeout", "UDP timeout (seconds)"},
        {"tunAutoRoute", "Set up routes"},
        {"tunAutoDetectInterface", "Detect the outgoing interface"},
        {"tunStrictRoute", "Strict routes", "Stops traffic from leaking around the device."},
        {"tunEndpointIndependentNat", "Endpoint-independent NAT"},
        {"tunDisableIcmpForwarding", "Answer ping locally"},
        {"tunRecvMsgX", "Batch receiving (recvmmsg)"},
        {"tunSendMsgX", "Batch sending (sendmmsg)"},
    });
    m_form->addGroup(QStringLiteral("Routes"));
    m_form->addEngineFields({
        {"tunDnsHijack", "Answer DNS sent to", "One per line, such as any:53 or tcp://any:53."},
        {"tunRouteAddress", "Route only these ranges", "IP ranges, one per line; empty routes everything."},
        {"tunRouteExcludeAddress", "Never route these ranges"},
        {"tunIncludeInterface", "Only from these interfaces"},
        {"tunExcludeInterface", "Never from these interfaces"},
        {"tunExcludeSrcPort", "Exclude source ports", "Ports or ranges, one per line."},
        {"tunExcludeDstPort", "Exclude destination ports"},
    });
    m_form->finish();
}

} // namespace tarnwick
