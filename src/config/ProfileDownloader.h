#pragma once

#include "SubscriptionInfo.h"
#include "platform/Error.h"

#include <QObject>
#include <QString>
#include <QTemporaryFile>
#include <chrono>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace tarnwick {

class Settings;

// A subscription download that failed. HTTP failures carry the status code.
class ProfileDownloaderError final : public Error
{
public:
    enum class Kind
    {
        BadUrl,
        Transport,
        TimedOut,
        HttpStatus,
    };

    static ProfileDownloaderError badUrl(const QString& url);
    static ProfileDownloaderError transport(const QString& reason);
    static ProfileDownloaderError timedOut();
    // "HTTP Error: 404 from example.com" ("server" when the URL has no host).
    static ProfileDownloaderError httpStatus(int status, const QString& host);

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_statusCode; }

private:
    ProfileDownloaderError(Kind kind, int statusCode, QString description)
        : Error(std::move(description)), m_kind(kind), m_statusCode(statusCode)
    {}

    Kind m_kind;
    int m_statusCode;
};

// One downloaded subscription. The temporary file lives as long as any copy of this value.
struct ProfileDownload
{
    std::shared_ptr<QTemporaryFile> file;
    std::optional<SubscriptionInfo> info;
    std::optional<QString> rawInfo;    // the "subscription-userinfo" header as sent
    std::optional<QString> remoteName; // the file name suggested by "content-disposition"

    QString filePath() const { return file ? file->fileName() : QString(); }
};

// Fetches subscriptions into temporary files. It does not look at the content: the profile store
// validates it before anything reaches the profiles directory.
class ProfileDownloader final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultTimeout{15000};

    explicit ProfileDownloader(const Settings& settings, QObject* parent = nullptr);
    ~ProfileDownloader() override;

    // How long the server may stay silent before the download fails.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Throws ProfileDownloaderError.
    QCoro::Task<ProfileDownload> download(QString url);

    // The "content-disposition" file name: the first "filename=" (quotes stripped) or "filename*="
    // (charset prefix dropped) parameter, percent-decoded when that decodes to valid UTF-8.
    static std::optional<QString> remoteNameFromHeader(QStringView header);

private:
    const Settings& m_settings;
    QNetworkAccessManager* m_network;
    std::chrono::milliseconds m_timeout = defaultTimeout;
};

} // namespace tarnwick
