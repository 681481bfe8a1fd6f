#include "IPClassifier.h"

#include <algorithm>

namespace tarnwick {

QString rawValue(IPCategory category)
{
    switch (category) {
    case IPCategory::local:
        return QStringLiteral("Local");
    case IPCategory::lan:
        return QStringLiteral("LAN");
    case IPCategory::domain:
        return QStringLiteral("Unresolved");
    case IPCategory::public_:
        break;
    }
    return QStringLiteral("public");
}

namespace IPClassifier {

namespace {

// 172.16.0.0/12: the second number from 16 to 31.
bool isPrivate172(const QString& address)
{
    if (!address.startsWith(QLatin1String("172.")))
        return false;
    const qsizetype dot = address.indexOf(u'.', 4);
    if (dot < 0)
        return false;
    const QStringView second = QStringView(address).mid(4, dot - 4);
    if (second.isEmpty() ||
        !std::all_of(second.begin(), second.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return false;
    bool ok = false;
    const int value = second.toInt(&ok);
    return ok && value >= 16 && value <= 31;
}

bool isAddressCharacter(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'.' || c == u':' || (c >= u'a' && c <= u'f') ||
           (c >= u'A' && c <= u'F');
}

} // namespace

IPCategory classify(const QString& address)
{
    if (address.isEmpty())
        return IPCategory::domain;
    if (address == QLatin1String("127.0.0.1") || address == QLatin1String("0.0.0.0"))
        return IPCategory::local;
    if (address.startsWith(QLatin1String("10.")) || address.startsWith(QLatin1String("192.168.")) ||
        address.startsWith(QLatin1String("169.254.")) || isPrivate172(address))
        return IPCategory::lan;
    if (address == QLatin1String("::1") || address == QLatin1String("::"))
        return IPCategory::local;
    const QString lower = address.toLower();
    if (lower.startsWith(QLatin1String("fe80:")) || lower.startsWith(QLatin1String("fd")))
        return IPCategory::lan;
    // Hexadecimal letters belong to IPv6 only: "172.abc" or "face.de" is a name, "cafe::1" an address.
    const bool ipv6 = address.contains(u':');
    if (!std::all_of(address.begin(), address.end(), [ipv6](QChar c) {
            return ipv6 ? isAddressCharacter(c) : c == u'.' || (c >= u'0' && c <= u'9');
        }))
        return IPCategory::domain;
    return IPCategory::public_;
}

} // namespace IPClassifier
} // namespace tarnwick
