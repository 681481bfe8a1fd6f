#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;

namespace tarnwick {

// Downloads a kernel archive into a file that appears only once the whole body has arrived.
class RuntimeDownloader final
{
public:
    // Called with the fraction received, 0…1, in steps of at least 0.01 and always with 1.0 at the end;
    // never when the server announces no length.
    using ProgressHandler = std::function<void(double)>;

    explicit RuntimeDownloader(QNetworkAccessManager* network) : m_network(network) {}

    // Throws RuntimeError: networkFailure with "HTTP <status>" (-1 without one) or the transport's
    // reason, also for a body that ends before its announced length; fsOperationFailed when the file
    // cannot be written. Nothing is left at `destination` on failure.
    QCoro::Task<> download(QUrl url, QString destination, ProgressHandler progressHandler) const;

private:
    QNetworkAccessManager* m_network;
};

} // namespace tarnwick
