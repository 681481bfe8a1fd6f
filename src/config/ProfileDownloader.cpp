#include "ProfileDownloader.h"

#include "UserAgentHelper.h"
#include "platform/Logging.h"
#include "platform/Settings.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QUrl>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

ProfileDownloaderError ProfileDownloaderError::badUrl(const QString& url)
{
    return {Kind::BadUrl, 0, QStringLiteral("Bad URL: ") + url};
}

ProfileDownloaderError ProfileDownloaderError::transport(const QString& reason)
{
    return {Kind::Transport, 0, reason};
}

ProfileDownloaderError ProfileDownloaderError::timedOut()
{
    return {Kind::TimedOut, 0, QStringLiteral("The request timed out.")};
}

ProfileDownloaderError ProfileDownloaderError::httpStatus(int status, const QString& host)
{
    return {Kind::HttpStatus, status,
            QStringLiteral("HTTP Error: %1 from %2")
                .arg(status)
                .arg(host.isEmpty() ? QStringLiteral("server") : host)};
}

namespace {

// Percent-decoding that, like the platform's, gives up on a malformed escape or on bytes that are not UTF-8.
std::optional<QString> percentDecoded(QStringView text)
{
    const QByteArray bytes = text.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' &&
            (i + 2 >= bytes.size() || !isxdigit(uchar(bytes[i + 1])) || !isxdigit(uchar(bytes[i + 2]))))
            return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(QByteArray::fromPercentEncoding(bytes));
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

QString stripQuotes(QStringView value)
{
    qsizetype begin = 0;
    qsizetype end = value.size();
    const auto isQuote = [](QChar c) { return c == u'"' || c == u'\''; };
    while (begin < end && isQuote(value[begin]))
        ++begin;
    while (end > begin && isQuote(value[end - 1]))
        --end;
    return value.mid(begin, end - begin).toString();
}

// The reply is a child of the access manager: whichever goes first, it is deleted exactly once.
struct ReplyGuard
{
    QPointer<QNetworkReply> reply;
    ~ReplyGuard()
    {
        if (reply)
            reply->deleteLater();
    }
};

} // namespace

ProfileDownloader::ProfileDownloader(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_network(new QNetworkAccessManager(this))
{}

ProfileDownloader::~ProfileDownloader() = default;

std::optional<QString> ProfileDownloader::remoteNameFromHeader(QStringView header)
{
    for (QStringView rawPart : header.split(u';')) {
        const QStringView part = rawPart.trimmed();
        if (part.startsWith(u"filename=", Qt::CaseInsensitive)) {
            const QString value = stripQuotes(part.mid(9));
            return percentDecoded(value).value_or(value);
        }
        if (part.startsWith(u"filename*=", Qt::CaseInsensitive)) {
            // charset'language'value
            QStringView value = part.mid(10);
            const qsizetype first = value.indexOf(u'\'');
            const qsizetype second = first < 0 ? -1 : value.indexOf(u'\'', first + 1);
            if (second >= 0)
                value = value.mid(second + 1);
            return percentDecoded(value).value_or(value.toString());
        }
    }
    return std::nullopt;
}

QCoro::Task<ProfileDownload> ProfileDownloader::download(QString urlText)
{
    const QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        throw ProfileDownloaderError::badUrl(urlText);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgentHelper::activeUA(m_settings));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Like the platform's request time-out, this bounds silence, not the whole transfer.
    request.setTransferTimeout(int(m_timeout.count()));
    qCDebug(lcProfiles, "Downloading profile from: %s",
            qUtf8Printable(url.host().isEmpty() ? QStringLiteral("unknown") : url.host()));

    ProfileDownload result;
    result.file =
        std::make_shared<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/tarnwick-profile-XXXXXX.yaml"));
    if (!result.file->open())
        throw ProfileDownloaderError::transport(QStringLiteral("Could not create a temporary file: ") +
                                                result.file->errorString());

    QPointer<ProfileDownloader> self(this);
    ReplyGuard guard{m_network->get(request)};
    QNetworkReply* reply = guard.reply;
    QTemporaryFile* file = result.file.get();
    // Written as it arrives, so a large subscription is never held in memory whole.
    connect(reply, &QNetworkReply::readyRead, file, [reply, file] { file->write(reply->readAll()); });
    co_await reply;
    if (!self || !guard.reply)
        throw ProfileDownloaderError::transport(QStringLiteral("The download was cancelled."));

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299)
            throw ProfileDownloaderError::httpStatus(code, url.host());
    } else if (reply->error() == QNetworkReply::OperationCanceledError ||
               reply->error() == QNetworkReply::TimeoutError) {
        throw ProfileDownloaderError::timedOut();
    }
    if (reply->error() != QNetworkReply::NoError)
        throw ProfileDownloaderError::transport(reply->errorString());

    file->write(reply->readAll());
    if (file->error() != QFileDevice::NoError || !file->flush())
        throw ProfileDownloaderError::transport(QStringLiteral("Could not save the download: ") +
                                                file->errorString());
    file->close();

    for (const auto& [name, value] : reply->rawHeaderPairs()) {
        if (name.compare("subscription-userinfo", Qt::CaseInsensitive) == 0) {
            result.rawInfo = QString::fromUtf8(value);
            result.info = SubscriptionInfo::fromHeader(*result.rawInfo);
        } else if (name.compare("content-disposition", Qt::CaseInsensitive) == 0) {
            result.remoteName = remoteNameFromHeader(QString::fromUtf8(value));
        }
    }
    co_return result;
}

} // namespace tarnwick
