#include "platform/AsyncMutex.h"

#include "support/TestSupport.h"

#include <QCoro/QCoroTimer>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

QCoro::Task<> holdFor(AsyncMutex* mutex, std::chrono::milliseconds duration, int label,
                      std::shared_ptr<QList<int>> order)
{
    auto lock = co_await mutex->lock();
    order->append(label);
    co_await QCoro::sleepFor(duration);
    order->append(-label);
}

QCoro::Task<AsyncMutex::Lock> acquire(AsyncMutex* mutex)
{
    co_return co_await mutex->lock();
}

} // namespace

TEST(AsyncMutexTest, HoldersRunOneAtATimeInArrivalOrder)
{
    AsyncMutex mutex;
    auto order = std::make_shared<QList<int>>();
    // The first holder takes longest; later ones must still wait for it and keep their order.
    holdFor(&mutex, 30ms, 1, order);
    holdFor(&mutex, 1ms, 2, order);
    holdFor(&mutex, 10ms, 3, order);
    EXPECT_TRUE(mutex.isLocked());
    ASSERT_TRUE(test::waitFor([&] { return order->size() == 6; }));
    EXPECT_EQ(*order, (QList<int>{1, -1, 2, -2, 3, -3}));
    EXPECT_FALSE(mutex.isLocked());
}

TEST(AsyncMutexTest, AReleasedLockLetsTheNextIn)
{
    AsyncMutex mutex;
    auto order = std::make_shared<QList<int>>();
    {
        auto first = test::await(acquire(&mutex));
        holdFor(&mutex, 1ms, 7, order);
        QCoreApplication::processEvents();
        EXPECT_TRUE(order->isEmpty());
        first.release();
        first.release(); // twice is harmless
    }
    ASSERT_TRUE(test::waitFor([&] { return order->size() == 2; }));
}
