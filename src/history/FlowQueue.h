#pragma once

#include <QThread>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

namespace tarnwick {

// The flow database's serial queue: one thread runs every statement, in the order they were enqueued.
// Writes that arrive back to back share one transaction (opened by `beginBatch`, closed by `endBatch`),
// which is what lets recording keep up with a busy kernel; a read, an idle queue or a full batch closes
// the transaction first, so a read observes every write enqueued before it.
//
// What a crash of the process loses: the writes still queued and those of the open transaction, which
// holds only writes made since the queue was last idle or read from, and never more than 4096 of them.
// A committed transaction survives a crash of the process (write-ahead log, synchronous=NORMAL); a power
// loss may also take the last transactions before a checkpoint.
class FlowQueue final : public QThread
{
public:
    struct Hooks
    {
        std::function<void()> beginBatch;
        std::function<void()> endBatch;
    };

    explicit FlowQueue(Hooks hooks);
    ~FlowQueue() override;

    // Queues a write and returns at once.
    void post(std::function<void()> write);

    // Runs `work` on the queue and waits for its result. Never call it from the queue's own thread.
    template <typename T> T sync(std::function<T()> work)
    {
        std::packaged_task<T()> task(std::move(work));
        std::future<T> result = task.get_future();
        enqueue(Item{[&task] { task(); }, false});
        return result.get();
    }

    // Stops the thread after the queued work has run.
    void shutdown();

protected:
    void run() override;

private:
    struct Item
    {
        std::function<void()> work;
        bool isWrite;
    };

    void enqueue(Item item);

    Hooks m_hooks;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Item> m_items;
    bool m_stopping = false;
};

} // namespace tarnwick
