#include "SubscriptionManager.h"

#include "AtomicFile.h"
#include "UserAgentHelper.h"
#include "config/yaml/NativeValue.h"
#include "platform/Logging.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>
#include <qcoro/qcoronetworkreply.h>

namespace tarnwick {

namespace {

const QString kWarningPrefix = QStringLiteral("\u26A0\uFE0F [SubscriptionManager] ");

} // namespace

SubscriptionManager::SubscriptionManager(QString ledgerPath, const Settings& settings, QObject* parent)
    : QObject(parent), m_ledgerPath(std::move(ledgerPath)), m_settings(settings),
      m_network(new QNetworkAccessManager(this))
{
    if (!QFileInfo::exists(m_ledgerPath))
        return;
    try {
        m_ledger = read(m_ledgerPath);
    } catch (const std::exception& e) {
        qCWarning(lcProfiles, "Subscription ledger unreadable, starting empty: %s",
                  qUtf8Printable(describe(e)));
    }
}

SubscriptionManager::Ledger SubscriptionManager::read(const QString& path)
{
    const NativeValue root = NativeValue::fromJson(AtomicFile::read(path));
    Ledger ledger;
    for (const auto& [url, record] : root.toDictionary()) {
        if (!record.isDictionary())
            continue;
        ledger.insert(url, SubscriptionInfo{record.value(QStringLiteral("upload")).toInteger(),
                                            record.value(QStringLiteral("download")).toInteger(),
                                            record.value(QStringLiteral("total")).toInteger(),
                                            record.value(QStringLiteral("expire")).toInteger()});
    }
    return ledger;
}

void SubscriptionManager::write(const QString& path, const Ledger& ledger)
{
    NativeValue::Dictionary root;
    for (auto it = ledger.begin(); it != ledger.end(); ++it) {
        root.emplace(it.key(), NativeValue::Dictionary{{QStringLiteral("upload"), it->upload},
                                                       {QStringLiteral("download"), it->download},
                                                       {QStringLiteral("total"), it->total},
                                                       {QStringLiteral("expire"), it->expire}});
    }
    AtomicFile::write(path, NativeValue(std::move(root)).toJson(NativeValue::JsonFormat::Pretty));
}

void SubscriptionManager::save()
{
    try {
        write(m_ledgerPath, m_ledger);
    } catch (const std::exception& e) {
        qCWarning(lcProfiles, "Subscription ledger not saved: %s", qUtf8Printable(describe(e)));
    }
}

void SubscriptionManager::update(const QString& url, const SubscriptionInfo& info)
{
    m_ledger.insert(url, info);
    save();
    Q_EMIT ledgerChanged();
}

void SubscriptionManager::prune(const QSet<QString>& activeURLs)
{
    const qsizetype removed =
        m_ledger.removeIf([&](const auto& entry) { return !activeURLs.contains(entry.key()); });
    if (removed == 0)
        return;
    save();
    printDiagnostic(
        QStringLiteral("🧹 [SubscriptionManager] GC cleared %1 orphaned records.").arg(removed));
    Q_EMIT ledgerChanged();
}

QCoro::Task<> SubscriptionManager::fetch(QString url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative()) {
        printDiagnostic(kWarningPrefix +
                        QStringLiteral("Failed to fetch subscription info for %1: Bad URL").arg(url));
        co_return;
    }
    QNetworkRequest request(parsed);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgentHelper::activeUA(m_settings));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(int(fetchTimeout.count()));

    QPointer<SubscriptionManager> self(this);
    QPointer<QNetworkReply> reply = m_network->head(request);
    co_await reply.get();
    if (!self || !reply)
        co_return;
    reply->deleteLater();
    // Only a transport failure counts: any answer with the header carries the quota.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        printDiagnostic(
            kWarningPrefix +
            QStringLiteral("Failed to fetch subscription info for %1: %2").arg(url, reply->errorString()));
        co_return;
    }
    const QByteArray header = reply->rawHeader("subscription-userinfo");
    if (header.isEmpty())
        co_return;
    if (const auto info = SubscriptionInfo::fromHeader(QString::fromUtf8(header)))
        update(url, *info);
}

} // namespace tarnwick
