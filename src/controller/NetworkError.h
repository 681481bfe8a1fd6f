#pragma once

#include "platform/Error.h"

#include <QString>

namespace tarnwick {

// A transport failure: nothing (or no complete HTTP response) came back — the kernel is not running, the
// call timed out, the connection was reset. Worded "Network Error: " + the system's description + " (" +
// the system's error code + ")".
class NetworkError final : public Error
{
public:
    NetworkError(int code, const QString& systemDescription)
        : Error(QStringLiteral("Network Error: %1 (%2)").arg(systemDescription).arg(code)), m_code(code),
          m_systemDescription(systemDescription)
    {}

    // A QNetworkReply::NetworkError, or a QAbstractSocket::SocketError for the streams.
    int code() const { return m_code; }
    const QString& systemDescription() const { return m_systemDescription; }

private:
    int m_code;
    QString m_systemDescription;
};

} // namespace tarnwick
