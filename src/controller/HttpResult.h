#pragma once

#include "NetworkError.h"

#include <QByteArray>
#include <optional>
#include <qcoro/qcorotask.h>

class QNetworkReply;

namespace tarnwick {

// What came back for one controller request: a transport failure, or an HTTP status and body.
struct HttpResult
{
    // Set when no complete HTTP response arrived (refused, reset, timed out, aborted).
    std::optional<NetworkError> transportError;
    int status = 0;
    QByteArray body;

    // Waits for the reply to finish and reads it; the reply is deleted afterwards. The wait is bounded by
    // the time-outs the request was sent with.
    static QCoro::Task<HttpResult> collect(QNetworkReply* reply);
};

} // namespace tarnwick
