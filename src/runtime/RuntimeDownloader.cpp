#include "RuntimeDownloader.h"

#include "RuntimeError.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <chrono>
#include <memory>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

using namespace std::chrono_literals;

namespace {

// Bounds silence on the connection, not the whole transfer: a large archive on a slow line still completes.
constexpr std::chrono::milliseconds kTransferTimeout = 60s;
// The whole transfer, so that the await itself is bounded too.
constexpr std::chrono::milliseconds kDownloadBound = 30min;

} // namespace

QCoro::Task<> RuntimeDownloader::download(QUrl url, QString destination,
                                          ProgressHandler progressHandler) const
{
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly))
        throw RuntimeError::fsOperationFailed(
            QStringLiteral("Cannot write %1: %2").arg(destination, file.errorString()));

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "application/octet-stream");
    request.setTransferTimeout(static_cast<int>(kTransferTimeout.count()));
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        m_network->get(request), [](QNetworkReply* r) { r->deleteLater(); });
    QNetworkReply* raw = reply.get();
    QSaveFile* target = &file;
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, target] { target->write(raw->readAll()); });
    auto lastReported = std::make_shared<double>(0.0);
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw,
                     [raw, progressHandler, lastReported](qint64 received, qint64 total) {
                         const int status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                         if (total <= 0 || !progressHandler || status < 200 || status > 299)
                             return;
                         const double fraction = static_cast<double>(received) / static_cast<double>(total);
                         if (fraction == 1.0 || fraction - *lastReported >= 0.01) {
                             *lastReported = fraction;
                             progressHandler(fraction);
                         }
                     });
    co_await qCoro(raw).waitForFinished(kDownloadBound);
    if (raw->isRunning())
        raw->abort();

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && raw->error() != QNetworkReply::NoError)
        throw RuntimeError::networkFailure(raw->errorString());
    const int code = status.isValid() ? status.toInt() : -1;
    if (code < 200 || code > 299)
        throw RuntimeError::networkFailure(QStringLiteral("HTTP %1").arg(code));
    if (raw->error() != QNetworkReply::NoError)
        throw RuntimeError::networkFailure(raw->errorString());
    file.write(raw->readAll());
    const qint64 announced = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > 0 && file.size() != announced)
        throw RuntimeError::networkFailure(
            QStringLiteral("The download ended after %1 of %2 bytes").arg(file.size()).arg(announced));
    if (!file.commit())
        throw RuntimeError::fsOperationFailed(
            QStringLiteral("Cannot write %1: %2").arg(destination, file.errorString()));
}

} // namespace tarnwick
