#include "LatencySession.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QTimer>

namespace tarnwick {

// Takes a connection at once while one is free and nobody queues before; otherwise joins the queue and is
// resumed by release(), which hands its connection over without freeing it in between.
class LatencySession::Turn
{
public:
    explicit Turn(LatencySession* session) : m_session(session) {}

    bool await_ready() const noexcept
    {
        if (m_session->m_inFlight >= maxConnections || !m_session->m_waiting.empty())
            return false;
        ++m_session->m_inFlight;
        return true;
    }
    void await_suspend(std::coroutine_handle<> waiter) { m_session->m_waiting.push_back(waiter); }
    void await_resume() const noexcept {}

private:
    LatencySession* m_session;
};

LatencySession::LatencySession(QObject* parent) : QObject(parent)
{
    for (QNetworkAccessManager*& manager : m_managers) {
        manager = new QNetworkAccessManager(this);
        // The controller listens on the loopback; a system proxy must never be asked for it.
        manager->setProxy(QNetworkProxy::NoProxy);
    }
}

LatencySession::~LatencySession() = default;

QCoro::Task<HttpResult> LatencySession::get(QNetworkRequest request)
{
    co_await Turn(this);
    const int manager = m_active[0] <= m_active[1] ? 0 : 1;
    ++m_active[manager];
    const auto releaseAtEnd = qScopeGuard([this, manager] { release(manager); });
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = m_managers[manager]->get(request);
    QTimer::singleShot(resourceTimeout, reply, &QNetworkReply::abort);
    co_return co_await HttpResult::collect(reply);
}

void LatencySession::release(int manager)
{
    --m_active[manager];
    if (m_waiting.empty()) {
        --m_inFlight;
        return;
    }
    const std::coroutine_handle<> next = m_waiting.front();
    m_waiting.pop_front();
    // Resumed from the event loop, never inside the finishing request's own coroutine.
    QMetaObject::invokeMethod(
        this, [next] { next.resume(); }, Qt::QueuedConnection);
}

} // namespace tarnwick
