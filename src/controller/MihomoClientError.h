#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>

namespace tarnwick {

// A controller call that reached the kernel (or could not be addressed to it) and failed.
class MihomoClientError final : public Error
{
public:
    enum class Kind
    {
        // A status outside 200–299; carries the status and the body.
        httpError,
        // The endpoint's host does not form a URL; nothing was sent.
        invalidEndpoint,
        // A successful status whose body is not JSON.
        invalidResponse,
    };

    // "Mihomo: " + the body's "message" + " (HTTP " + status + ")" when the body is a JSON object with a
    // "message" string, otherwise "HTTP " + status + ": " + body.
    static MihomoClientError httpError(int status, const QByteArray& body);
    static MihomoClientError invalidEndpoint(const QString& host, int port);
    static MihomoClientError invalidResponse(const QString& parserMessage);

    Kind kind() const { return m_kind; }
    // For httpError: the HTTP status and the body as text (invalid UTF-8 replaced).
    int status() const { return m_status; }
    const QString& body() const { return m_body; }

private:
    MihomoClientError(Kind kind, QString description, int status = 0, QString body = QString())
        : Error(std::move(description)), m_kind(kind), m_status(status), m_body(std::move(body))
    {}

    Kind m_kind;
    int m_status;
    QString m_body;
};

} // namespace tarnwick
