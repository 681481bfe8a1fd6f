#include "HttpResult.h"

#include <QNetworkReply>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

namespace {

struct DeleteLater
{
    void operator()(QObject* object) const { object->deleteLater(); }
};

} // namespace

QCoro::Task<HttpResult> HttpResult::collect(QNetworkReply* reply)
{
    const std::unique_ptr<QNetworkReply, DeleteLater> owned(reply);
    co_await owned.get();
    HttpResult result;
    const QVariant status = owned->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = owned->error();
    // Errors below 200 are connection and proxy failures; above, Qt merely classifies an HTTP status.
    if (error != QNetworkReply::NoError &&
        (!status.isValid() || error < QNetworkReply::ContentAccessDenied)) {
        result.transportError.emplace(static_cast<int>(error), owned->errorString());
        co_return result;
    }
    result.status = status.toInt();
    result.body = owned->readAll();
    co_return result;
}

} // namespace tarnwick
