#include "FlowQueue.h"

namespace tarnwick {

namespace {

// A transaction is closed after this many writes even while more keep coming, so a crash loses little
// and the write-ahead log stays small.
constexpr int kMaxBatch = 4096;

} // namespace

FlowQueue::FlowQueue(Hooks hooks) : m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("app.tarnwick.FlowDB"));
    start(QThread::LowPriority);
}

FlowQueue::~FlowQueue()
{
    shutdown();
}

void FlowQueue::post(std::function<void()> write)
{
    enqueue(Item{std::move(write), true});
}

void FlowQueue::enqueue(Item item)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    m_ready.notify_one();
}

void FlowQueue::shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_one();
    wait();
}

void FlowQueue::run()
{
    bool inBatch = false;
    int batched = 0;
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_mutex);
            if (m_items.empty() && inBatch) {
                lock.unlock();
                m_hooks.endBatch();
                inBatch = false;
                continue;
            }
            m_ready.wait(lock, [this] { return m_stopping || !m_items.empty(); });
            if (m_items.empty())
                return;
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        if (item.isWrite && !inBatch) {
            m_hooks.beginBatch();
            inBatch = true;
            batched = 0;
        } else if (!item.isWrite && inBatch) {
            m_hooks.endBatch();
            inBatch = false;
        }
        item.work();
        if (inBatch && ++batched >= kMaxBatch) {
            m_hooks.endBatch();
            inBatch = false;
        }
    }
}

} // namespace tarnwick
