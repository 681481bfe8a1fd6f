#pragma once

#include "SubscriptionInfo.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <chrono>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace tarnwick {

class Settings;

// The latest traffic quota of every subscription URL, kept in profiles/subscription_ledger.json for the
// profile cards and the menu. Lives on the main thread.
class SubscriptionManager final : public QObject
{
    Q_OBJECT

public:
    using Ledger = QMap<QString, SubscriptionInfo>;

    static constexpr std::chrono::milliseconds fetchTimeout{10000};

    // Loads the ledger; a missing or unreadable file gives an empty one.
    SubscriptionManager(QString ledgerPath, const Settings& settings, QObject* parent = nullptr);

    const Ledger& ledger() const { return m_ledger; }
    QString ledgerPath() const { return m_ledgerPath; }

    // Refreshes one URL's quota with a HEAD request. Never fails: problems are printed and the ledger
    // stays as it was.
    QCoro::Task<> fetch(QString url);
    // Stores the quota and saves the ledger (a failed save is logged; the new record stays in memory).
    void update(const QString& url, const SubscriptionInfo& info);
    // Drops every record whose URL is not in the set.
    void prune(const QSet<QString>& activeURLs);

    // The ledger file's format, pretty-printed JSON with slashes unescaped. read() throws FileError or
    // NativeValueError; write() replaces the file atomically and throws FileError.
    static Ledger read(const QString& path);
    static void write(const QString& path, const Ledger& ledger);

Q_SIGNALS:
    void ledgerChanged();

private:
    void save();

    QString m_ledgerPath;
    const Settings& m_settings;
    QNetworkAccessManager* m_network;
    Ledger m_ledger;
};

} // namespace tarnwick
