#pragma once

#include "HttpResult.h"

#include <QNetworkRequest>
#include <QObject>
#include <array>
#include <chrono>
#include <coroutine>
#include <deque>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

namespace tarnwick {

// The HTTP session for latency tests, apart from the one of ordinary calls so that a burst of slow tests
// never delays them: no cookies, no cache, at most twelve requests to the controller at once (the rest
// wait their turn in order) and a total limit of 120 s per request. Callers hold it by shared pointer and
// keep it alive while they wait.
class LatencySession final : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxConnections = 12;
    static constexpr std::chrono::seconds resourceTimeout{120};

    explicit LatencySession(QObject* parent = nullptr);
    ~LatencySession() override;

    // Sends a GET once a connection is free.
    QCoro::Task<HttpResult> get(QNetworkRequest request);

    int inFlight() const { return m_inFlight; }
    int waiting() const { return static_cast<int>(m_waiting.size()); }

private:
    class Turn;

    void release(int manager);

    // Qt before 6.5 opens at most six connections per host and manager, so two managers give twelve.
    std::array<QNetworkAccessManager*, 2> m_managers{};
    std::array<int, 2> m_active{};
    int m_inFlight = 0;
    std::deque<std::coroutine_handle<>> m_waiting;
};

} // namespace tarnwick
