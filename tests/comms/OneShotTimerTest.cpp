#include <atomic>

#include <boost/asio/error.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "comms/ExceptionWithString.h"
#include "comms/OneShotTimer.h"
#include "tests/support/TestPace.h"

namespace {

TEST(OneShotTimerTest, HandlerRunsOnTheTimersThreadWithSuccess)
{
    OneShotTimer timer;
    boost::promise<std::pair<boost::system::error_code, boost::thread::id>> fired;
    timer.Start(
        [&](const boost::system::error_code& ec) {
            fired.set_value(std::make_pair(ec, boost::this_thread::get_id()));
        },
        0);
    auto f = fired.get_future();
    ASSERT_EQ(f.wait_for(generous), boost::future_status::ready);
    auto result = f.get();
    EXPECT_FALSE(result.first);
    EXPECT_NE(result.second, boost::this_thread::get_id());
}

TEST(OneShotTimerTest, RestartReplacesThePendingWaitWhichSeesAborted)
{
    OneShotTimer timer;
    boost::mutex mutex;
    boost::condition_variable changed;
    std::vector<boost::system::error_code> seen;
    timer.Start(
        [&](const boost::system::error_code& ec) {
            boost::unique_lock<boost::mutex> lock(mutex);
            seen.push_back(ec);
            changed.notify_all();
        },
        60000);
    timer.Restart(0);
    boost::unique_lock<boost::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, generous, [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[0], boost::asio::error::operation_aborted);
    EXPECT_FALSE(seen[1]);
}

TEST(OneShotTimerTest, CancelAbortsAndRestartWithoutHandlerThrows)
{
    OneShotTimer timer;
    EXPECT_THROW(
        {
            try {
                timer.Restart(10);
            } catch (const ExceptionWithString& e) {
                EXPECT_STREQ(e.what(), "WaitHandler not set");
                throw;
            }
        },
        ExceptionWithString);

    boost::promise<boost::system::error_code> fired;
    timer.Start([&](const boost::system::error_code& ec) { fired.set_value(ec); }, 60000);
    timer.Cancel();
    auto f = fired.get_future();
    ASSERT_EQ(f.wait_for(generous), boost::future_status::ready);
    EXPECT_EQ(f.get(), boost::asio::error::operation_aborted);
}

TEST(OneShotTimerTest, DestructorStopsAHandlerThatKeepsReArming)
{
    boost::promise<void> firstRun;
    bool signalled = false;
    {
        OneShotTimer timer;
        timer.Start(
            [&](const boost::system::error_code&) {
                if (!signalled) {
                    signalled = true;
                    firstRun.set_value();
                }
                timer.Restart(0);
            },
            0);
        ASSERT_EQ(firstRun.get_future().wait_for(generous), boost::future_status::ready);
    }
    SUCCEED() << "the destructor returned";
}

} // namespace

namespace {

TEST(OneShotTimerTest, StoppedTimerIgnoresFurtherWaits)
{
    OneShotTimer timer;
    boost::promise<void> firstRun;
    std::atomic<bool> signalled{false};
    // A handler that keeps re-arming, like a reconnect loop still running when its owner stops.
    timer.Start(
        [&](const boost::system::error_code&) {
            if (!signalled.exchange(true))
                firstRun.set_value();
            timer.Restart(0);
        },
        0);
    ASSERT_EQ(firstRun.get_future().wait_for(boost::chrono::seconds(10)),
              boost::future_status::ready);
    timer.Stop();

    std::atomic<bool> ranAfterStop{false};
    timer.Start([&](const boost::system::error_code&) { ranAfterStop = true; }, 0);
    timer.Restart(0);
    timer.Cancel();
    timer.Stop();
    // The thread is joined: nothing can run any more.
    EXPECT_FALSE(ranAfterStop);
}

} // namespace
