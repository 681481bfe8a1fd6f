#include "ControllerEndpoint.h"

#include "LenientJson.h"
#include "platform/Settings.h"

#include <QFile>
#include <QStringList>
#include <QUuid>
#include <limits>
#include <optional>

namespace tarnwick {

namespace {

QString trimmed(QStringView text, QStringView characters)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && characters.contains(text[from]))
        ++from;
    while (to > from && characters.contains(text[to - 1]))
        --to;
    return text.sliced(from, to - from).toString();
}

QString trimmedBlanks(QStringView text)
{
    return trimmed(text, u" \t");
}

// The value of a "key:" line: blanks, then quote characters removed from both ends.
QString lineValue(QStringView line, qsizetype keyLength)
{
    return trimmed(trimmedBlanks(line.sliced(keyLength)), u"\"'");
}

// An optional sign and decimal digits, nothing else, within the range of an int.
std::optional<int> decimalPort(const QString& text)
{
    const auto value = LenientJson::intValue(QJsonValue(text));
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace

QUrl ControllerEndpoint::baseURL() const
{
    const bool bareIPv6 = host.contains(u':') && !host.startsWith(u'[');
    const QString authority = bareIPv6 ? u'[' + host + u']' : host;
    return QUrl(QStringLiteral("http://") + authority + u':' + QString::number(port), QUrl::StrictMode);
}

ControllerEndpoint ControllerEndpoint::fromSettings(Settings& settings)
{
    ControllerEndpoint endpoint;
    endpoint.host = settings.text(QStringLiteral("apiHost"), endpoint.host);
    const qint64 port = settings.integer(QStringLiteral("apiPort"), 0);
    if (port != 0)
        endpoint.port = static_cast<int>(port);
    endpoint.secret = settings.text(QStringLiteral("apiSecret"), QString());
    // Created once per installation, then reused by every start.
    if (endpoint.secret.isEmpty()) {
        endpoint.secret = generateSecret();
        settings.setText(QStringLiteral("apiSecret"), endpoint.secret);
    }
    return endpoint;
}

ControllerEndpoint ControllerEndpoint::fromConfigFile(const QString& path)
{
    ControllerEndpoint endpoint;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return endpoint;
    const QString text = QString::fromUtf8(file.readAll());
    static const QString controllerKey = QStringLiteral("external-controller:");
    static const QString secretKey = QStringLiteral("secret:");
    for (QStringView rawLine : QStringView(text).split(u'\n')) {
        const QString line = trimmedBlanks(rawLine);
        if (line.startsWith(controllerKey)) {
            QString value = lineValue(line, controllerKey.size());
            // "[address]:port": the brackets only keep the address's colons apart from the port's.
            if (value.startsWith(u'[')) {
                const qsizetype closing = value.indexOf(u']');
                if (closing > 1 && (closing + 1 == value.size() || value[closing + 1] == u':')) {
                    endpoint.host = value.sliced(1, closing - 1);
                    if (const auto port = decimalPort(value.mid(closing + 2)))
                        endpoint.port = *port;
                    continue;
                }
            }
            const qsizetype colon = value.indexOf(u':');
            if (colon < 0) {
                if (const auto port = decimalPort(value))
                    endpoint.port = *port;
                continue;
            }
            const QString hostPart = value.left(colon);
            if (!hostPart.isEmpty())
                endpoint.host = hostPart;
            if (const auto port = decimalPort(value.mid(colon + 1)))
                endpoint.port = *port;
        } else if (line.startsWith(secretKey)) {
            endpoint.secret = lineValue(line, secretKey.size());
        }
    }
    return endpoint;
}

QString ControllerEndpoint::generateSecret()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).remove(u'-');
}

} // namespace tarnwick
