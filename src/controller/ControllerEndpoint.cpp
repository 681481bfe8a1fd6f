#include "ControllerEndpoint.h"

#include "LenientJson.h"
#include "platform/Settings.h"

#include <QFile>
#include <QStringList>
#include <QUuid>
#include <limits>

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
    return QUrl(QStringLiteral("http://") + host + u':' + QString::number(port), QUrl::StrictMode);
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
            const QString value = lineValue(line, controllerKey.size());
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

QJsonObject ControllerEndpoint::toJson() const
{
    return QJsonObject{
        {QStringLiteral("host"), host}, {QStringLiteral("port"), port}, {QStringLiteral("secret"), secret}};
}

std::optional<ControllerEndpoint> ControllerEndpoint::fromJson(const QJsonObject& object)
{
    const QJsonValue host = object.value(QStringLiteral("host"));
    const QJsonValue port = object.value(QStringLiteral("port"));
    const QJsonValue secret = object.value(QStringLiteral("secret"));
    if (!host.isString() || !port.isDouble() || !secret.isString())
        return std::nullopt;
    return ControllerEndpoint{host.toString(), port.toInt(), secret.toString()};
}

} // namespace tarnwick
