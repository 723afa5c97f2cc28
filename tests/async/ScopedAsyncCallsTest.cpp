#include <atomic>
#include <stdexcept>

#include <boost/chrono.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "async/ScopedAsyncCalls.h"
#include "modbus/ModbusErrors.h"

namespace {

const boost::chrono::seconds generous(10);

// Waits, with an upper bound, until pred holds; yields between looks.
template <class Pred> bool WaitUntil(Pred pred)
{
    const auto deadline = boost::chrono::steady_clock::now() + generous;
    while (!pred()) {
        if (boost::chrono::steady_clock::now() > deadline) {
            return false;
        }
        boost::this_thread::yield();
    }
    return true;
}

TEST(ScopedAsyncCallsTest, ResultsArriveFromAWorkerThread)
{
    ScopedAsyncCalls calls;
    const boost::thread::id caller = boost::this_thread::get_id();
    boost::future<boost::thread::id> where =
        calls.Call<boost::thread::id>([] { return boost::this_thread::get_id(); });
    boost::future<std::string> text = calls.Call<std::string>([] { return std::string("abc"); });
    std::atomic<bool> ran(false);
    boost::future<void> done = calls.Call<void>([&] { ran = true; });

    EXPECT_NE(where.get(), caller);
    EXPECT_EQ(text.get(), "abc");
    done.get();
    EXPECT_TRUE(ran);
}

TEST(ScopedAsyncCallsTest, ErrorsKeepTheirExactTypeAcrossThreads)
{
    ScopedAsyncCalls calls;
    boost::future<int> timeout = calls.Call<int>(
        []() -> int { boost::throw_exception(Modbus::TimeoutError("No reply from node")); });
    try {
        timeout.get();
        FAIL() << "no exception";
    } catch (const Modbus::TimeoutError& e) {
        EXPECT_STREQ(e.what(), "No reply from node");
        EXPECT_EQ(e.Kind(), Modbus::TimeoutErrorKind);
    }

    boost::future<float> exceptionReply = calls.Call<float>([]() -> float {
        boost::throw_exception(Modbus::Error("busy", Modbus::ExceptionReply, 6, ByteVec{1, 0x83}));
    });
    try {
        exceptionReply.get();
        FAIL() << "no exception";
    } catch (const Modbus::Error& e) {
        EXPECT_TRUE(e.IsExceptionReply(6));
        EXPECT_EQ(e.Reply(), (ByteVec{1, 0x83}));
    }

    boost::future<void> range =
        calls.Call<void>([] { boost::throw_exception(std::out_of_range("empty")); });
    EXPECT_THROW(range.get(), std::out_of_range);

    boost::future<int> empty = calls.Call<int>(boost::function<int()>());
    EXPECT_THROW(empty.get(), boost::bad_function_call);
}

TEST(ScopedAsyncCallsTest, AFastCallStillRemovesItsOwnEntry)
{
    ScopedAsyncCalls calls;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(calls.Call<int>([i] { return i; }).get(), i);
    }
    EXPECT_TRUE(WaitUntil([&] { return calls.OutstandingCount() == 0; }));
}

TEST(ScopedAsyncCallsTest, DestructorWaitsForACallBlockedOnTheCard)
{
    // The "card request" completes only once the scope's destructor has begun, so the
    // destructor can return only by waiting for it.
    auto calls = std::make_unique<ScopedAsyncCalls>();
    ScopedAsyncCalls* raw = calls.get();
    boost::promise<int> cardReply;
    boost::shared_future<int> reply = cardReply.get_future().share();
    std::atomic<bool> requestCompleted(false);

    boost::future<int> f = calls->Call<int>([&]() {
        const int value = reply.get();
        requestCompleted = true;
        return value;
    });
    boost::thread replier([&] {
        // The destructor empties the scope's list before joining.
        WaitUntil([&] { return raw->OutstandingCount() == 0; });
        cardReply.set_value(7);
    });
    calls.reset();
    EXPECT_TRUE(requestCompleted);
    EXPECT_EQ(f.get(), 7);
    replier.join();
}

TEST(ScopedAsyncCallsTest, DestructorJoinsCallsStartedWhileItWaits)
{
    std::atomic<bool> innerFinished(false);
    boost::future<void> inner;
    {
        auto calls = std::make_unique<ScopedAsyncCalls>();
        ScopedAsyncCalls* raw = calls.get();
        boost::future<void> outer = calls->Call<void>([&] {
            // Start a further call only once the destructor has taken the list over.
            WaitUntil([&] { return raw->OutstandingCount() == 0; });
            inner = raw->Call<void>([&] {
                boost::this_thread::yield();
                innerFinished = true;
            });
        });
        calls.reset();
        outer.get();
    }
    EXPECT_TRUE(innerFinished);
    inner.get();
}

TEST(ScopedAsyncCallsTest, AnInterruptedWorkerAbandonsItsPromise)
{
    ScopedAsyncCalls calls;
    boost::future<int> f = calls.Call<int>([]() -> int { throw boost::thread_interrupted(); });
    EXPECT_THROW(f.get(), boost::broken_promise);
}

} // namespace
