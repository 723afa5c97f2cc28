#include <atomic>
#include <functional>

#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "simulator/SlotGuard.h"
#include "tests/support/TestPace.h"

namespace {

TEST(SlotGuardTest, CloseWaitsForTheCallInProgressAndStopsLaterOnes)
{
    std::atomic<int> calls{0};
    boost::promise<void> entered, release;
    boost::shared_future<void> released = release.get_future().share();
    std::function<void(int)> wrapped;
    {
        SlotGuard guard;
        wrapped = guard.Guard([&](int n) {
            calls += n;
            if (calls == 1) {
                entered.set_value();
                released.wait();
            }
        });
        boost::thread emitter([&] { wrapped(1); });
        ASSERT_EQ(entered.get_future().wait_for(generous), boost::future_status::ready);

        boost::promise<void> closed;
        boost::thread closer([&] {
            guard.Close();
            closed.set_value();
        });
        auto closedFuture = closed.get_future();
        // Still blocked by the call that is running on the emitter.
        EXPECT_EQ(closedFuture.wait_for(boost::chrono::milliseconds(50)),
                  boost::future_status::timeout);
        release.set_value();
        EXPECT_EQ(closedFuture.wait_for(generous), boost::future_status::ready);
        closer.join();
        emitter.join();
    }
    // The wrapper outlives its guard and does nothing.
    wrapped(10);
    EXPECT_EQ(calls, 1);
}

TEST(SlotGuardTest, WrappedCallMayStartAnotherOrCloseOnItsOwnThread)
{
    SlotGuard guard;
    int depth = 0;
    std::function<void()> inner = guard.Guard([&] { ++depth; });
    std::function<void()> outer = guard.Guard([&] {
        inner();
        guard.Close(); // no deadlock: closes without waiting for itself
        inner();       // closed now
    });
    outer();
    EXPECT_EQ(depth, 1);
}

} // namespace
