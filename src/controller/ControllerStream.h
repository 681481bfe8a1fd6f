#pragma once

#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <exception>
#include <optional>
#include <qcoro/qcorotask.h>

class QWebSocket;

namespace tarnwick {

// One of the controller's WebSocket streams. Every text (or UTF-8 binary) message that is a JSON object is
// decoded and queued; elementsAvailable() tells the consumer to take them. The stream ends with finished()
// when the connection fails or the kernel closes it, with error() saying why: the client never reconnects,
// that is the consumer's choice. Destroying the stream is how a consumer goes away: the WebSocket is then
// closed with code 1001 (going away).
class ControllerStreamBase : public QObject
{
    Q_OBJECT

public:
    // The opening handshake must complete within this bound unless the creator gives another.
    static constexpr std::chrono::milliseconds defaultOpenTimeout{60000};

    ~ControllerStreamBase() override;

    bool isOpen() const { return m_open; }
    bool isFinished() const { return m_finished; }
    // Why the stream finished: a NetworkError, or the creator's refusal to connect.
    std::exception_ptr error() const { return m_error; }

Q_SIGNALS:
    void opened();
    void elementsAvailable();
    void finished();

protected:
    ControllerStreamBase() = default;

    // Connects; called by the creator once the stream is fully constructed. With a refusal the stream
    // does not connect and finishes with it from the event loop, once the consumer had a chance to listen.
    void open(const QNetworkRequest& request, std::exception_ptr refusal,
              std::chrono::milliseconds openTimeout);
    // Decodes one message and queues the element; false when it yields nothing. By default the message is
    // parsed as a JSON object and handed to accept().
    virtual bool acceptMessage(const QByteArray& utf8);
    // Decodes one message object and queues the element; false when it yields nothing.
    virtual bool accept(const QJsonObject& message) = 0;
    virtual bool hasElements() const = 0;

    // Resumes when an element is queued, the stream finishes or is destroyed, or the bound passes.
    class ElementWait;

private:
    void receive(const QByteArray& utf8);
    void fail(int code, const QString& description);
    void finish(std::exception_ptr error);
    void wake();

    QWebSocket* m_socket = nullptr;
    QTimer m_openTimer;
    bool m_open = false;
    bool m_finished = false;
    std::exception_ptr m_error;
    ElementWait* m_waiter = nullptr;

    template <typename T> friend class ControllerStream;
};

class ControllerStreamBase::ElementWait
{
public:
    ElementWait(ControllerStreamBase* stream, std::chrono::milliseconds bound);
    ~ElementWait();
    ElementWait(const ElementWait&) = delete;
    ElementWait& operator=(const ElementWait&) = delete;

    struct Awaiter
    {
        ElementWait* wait;
        bool await_ready() const { return wait->ready(); }
        void await_suspend(std::coroutine_handle<> waiter) { wait->suspend(waiter); }
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() { return Awaiter{this}; }

private:
    bool ready() const;
    void suspend(std::coroutine_handle<> waiter);
    friend class ControllerStreamBase;
    void resume();

    QPointer<ControllerStreamBase> m_stream;
    std::chrono::milliseconds m_bound;
    QTimer m_timer;
    std::coroutine_handle<> m_waiter;
};

template <typename T> class ControllerStream final : public ControllerStreamBase
{
public:
    using Decoder = std::optional<T> (*)(const QJsonObject&);
    // Reads the message text itself, for messages too large to go through a JSON tree first.
    using TextDecoder = std::optional<T> (*)(const QByteArray&);

    ControllerStream(const QNetworkRequest& request, Decoder decode, std::exception_ptr refusal = nullptr,
                     std::chrono::milliseconds openTimeout = defaultOpenTimeout)
        : m_decode(decode)
    {
        open(request, std::move(refusal), openTimeout);
    }
    ControllerStream(const QNetworkRequest& request, TextDecoder decode, std::exception_ptr refusal = nullptr,
                     std::chrono::milliseconds openTimeout = defaultOpenTimeout)
        : m_decodeText(decode)
    {
        open(request, std::move(refusal), openTimeout);
    }

    // Every element received and not yet taken, oldest first.
    QList<T> takeAll() { return std::exchange(m_pending, {}); }

    // The next element. Empty when the bound passes first or the stream is destroyed meanwhile; throws the
    // stream's error once it has finished and every element has been taken.
    QCoro::Task<std::optional<T>> next(std::chrono::milliseconds bound)
    {
        const QPointer<ControllerStreamBase> self(this);
        ElementWait wait(this, bound);
        co_await wait;
        if (!self)
            co_return std::nullopt;
        if (!m_pending.isEmpty())
            co_return m_pending.takeFirst();
        if (m_finished && m_error)
            std::rethrow_exception(m_error);
        co_return std::nullopt;
    }

protected:
    bool acceptMessage(const QByteArray& utf8) override
    {
        if (!m_decodeText)
            return ControllerStreamBase::acceptMessage(utf8);
        std::optional<T> element = m_decodeText(utf8);
        if (!element)
            return false;
        m_pending.append(std::move(*element));
        return true;
    }
    bool accept(const QJsonObject& message) override
    {
        std::optional<T> element = m_decode(message);
        if (!element)
            return false;
        m_pending.append(std::move(*element));
        return true;
    }
    bool hasElements() const override { return !m_pending.isEmpty(); }

private:
    Decoder m_decode = nullptr;
    TextDecoder m_decodeText = nullptr;
    QList<T> m_pending;
};

} // namespace tarnwick
