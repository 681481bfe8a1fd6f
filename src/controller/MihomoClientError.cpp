#include "MihomoClientError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tarnwick {

MihomoClientError MihomoClientError::httpError(int status, const QByteArray& body)
{
    const QString text = QString::fromUtf8(body);
    const QJsonValue message = QJsonDocument::fromJson(body).object().value(QStringLiteral("message"));
    const QString description =
        message.isString() ? QStringLiteral("Mihomo: %1 (HTTP %2)").arg(message.toString()).arg(status)
                           : QStringLiteral("HTTP %1: %2").arg(status).arg(text);
    return MihomoClientError(Kind::httpError, description, status, text);
}

MihomoClientError MihomoClientError::invalidEndpoint(const QString& host, int port)
{
    return MihomoClientError(Kind::invalidEndpoint,
                             QStringLiteral("Invalid controller address: %1:%2").arg(host).arg(port));
}

MihomoClientError MihomoClientError::invalidResponse(const QString& parserMessage)
{
    return MihomoClientError(Kind::invalidResponse,
                             QStringLiteral("Invalid response from the controller: %1").arg(parserMessage));
}

} // namespace tarnwick
