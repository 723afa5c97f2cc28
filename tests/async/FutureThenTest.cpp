#include <atomic>

#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "async/FutureThen.h"
#include "modbus/ModbusErrors.h"

namespace {

TEST(FutureThenTest, ContinuationGetsTheReadyAntecedent)
{
    FutureThen then;
    boost::promise<unsigned short> raw;
    boost::future<float> volts = then.Then<float, unsigned short>(
        raw.get_future(), [](boost::future<unsigned short>& f) { return f.get() / 1000.0f; });
    raw.set_value(24000);
    EXPECT_FLOAT_EQ(volts.get(), 24.0f);
}

TEST(FutureThenTest, FailedAntecedentIsHandedOverWithItsError)
{
    FutureThen then;
    boost::promise<int> source;
    std::atomic<bool> called(false);
    boost::future<unsigned> result =
        then.Then<unsigned, int>(source.get_future(), [&](boost::future<int>& f) -> unsigned {
            called = true;
            try {
                f.get();
            } catch (const Modbus::TimeoutError&) {
                return 99u; // seen with its own type
            }
            return 0u;
        });
    try {
        boost::throw_exception(Modbus::TimeoutError("No reply from node"));
    } catch (...) {
        source.set_exception(boost::current_exception());
    }
    EXPECT_EQ(result.get(), 99u);
    EXPECT_TRUE(called);

    // An error the continuation lets through reaches the result with its type.
    boost::promise<int> failing;
    boost::future<unsigned> passed = then.Then<unsigned, int>(
        failing.get_future(), [](boost::future<int>& f) { return unsigned(f.get()); });
    try {
        boost::throw_exception(Modbus::Error("wrong node replied!"));
    } catch (...) {
        failing.set_exception(boost::current_exception());
    }
    EXPECT_THROW(passed.get(), Modbus::Error);
}

TEST(FutureThenTest, AbandonedAntecedentFailsWithoutCallingTheContinuation)
{
    FutureThen then;
    std::atomic<bool> called(false);
    boost::future<void> result;
    {
        boost::promise<std::string> abandoned;
        result = then.Then<void, std::string>(abandoned.get_future(),
                                              [&](boost::future<std::string>&) { called = true; });
    }
    EXPECT_THROW(result.get(), boost::broken_promise);
    EXPECT_FALSE(called);
}

TEST(FutureThenTest, DestructorWaitsForPendingAntecedents)
{
    boost::promise<int> source;
    std::atomic<int> seen(0);
    auto then = std::make_unique<FutureThen>();
    FutureThen* raw = then.get();
    then->Then<void, int>(source.get_future(), [&](boost::future<int>& f) { seen = f.get(); });
    boost::thread fulfiller([&] {
        // Fulfil only once the destructor has begun waiting (it empties the list first).
        while (raw->OutstandingCount() != 0) {
            boost::this_thread::yield();
        }
        source.set_value(5);
    });
    then.reset();
    EXPECT_EQ(seen, 5);
    fulfiller.join();
}

// Inline continuations: no thread of their own, same error rules as Then.
TEST(FutureThenTest, InlineContinuationRunsWhereTheAntecedentCompletes)
{
    FutureThen then;
    boost::promise<unsigned short> raw;
    boost::thread::id ranOn;
    boost::future<float> volts = then.ThenInline<float, unsigned short>(
        raw.get_future(), [&](boost::future<unsigned short>& f) {
            ranOn = boost::this_thread::get_id();
            return f.get() / 1000.0f;
        });
    EXPECT_EQ(then.OutstandingCount(), 1u);
    boost::thread::id completer;
    boost::thread t([&] {
        completer = boost::this_thread::get_id();
        raw.set_value(24000);
    });
    t.join();
    ASSERT_EQ(volts.wait_for(boost::chrono::seconds(10)), boost::future_status::ready);
    EXPECT_FLOAT_EQ(volts.get(), 24.0f);
    EXPECT_EQ(ranOn, completer);
    EXPECT_EQ(then.OutstandingCount(), 0u);

    // An antecedent that is ready already is continued at once, on the calling thread.
    boost::promise<int> ready;
    ready.set_value(7);
    boost::future<unsigned> doubled = then.ThenInline<unsigned, int>(
        ready.get_future(), [&](boost::future<int>& f) {
            ranOn = boost::this_thread::get_id();
            return unsigned(2 * f.get());
        });
    EXPECT_TRUE(doubled.is_ready());
    EXPECT_EQ(doubled.get(), 14u);
    EXPECT_EQ(ranOn, boost::this_thread::get_id());
}

TEST(FutureThenTest, InlineContinuationKeepsErrorTypesAndSkipsAbandonedAntecedents)
{
    FutureThen then;
    boost::promise<int> failing;
    std::atomic<bool> sawTimeout(false);
    boost::future<void> handled =
        then.ThenInline<void, int>(failing.get_future(), [&](boost::future<int>& f) {
            try {
                f.get();
            } catch (const Modbus::TimeoutError&) {
                sawTimeout = true;
                throw;
            }
        });
    try {
        boost::throw_exception(Modbus::TimeoutError("No reply from node"));
    } catch (...) {
        failing.set_exception(boost::current_exception());
    }
    EXPECT_THROW(handled.get(), Modbus::TimeoutError);
    EXPECT_TRUE(sawTimeout);

    // An error thrown by the continuation itself arrives with its type too.
    boost::promise<int> fine;
    boost::future<int> refused = then.ThenInline<int, int>(fine.get_future(), [](boost::future<int>& f) -> int {
        if (f.get() > 5) {
            boost::throw_exception(Modbus::Error("Invalid card type returned"));
        }
        return 0;
    });
    fine.set_value(9);
    EXPECT_THROW(refused.get(), Modbus::Error);

    std::atomic<bool> called(false);
    boost::future<void> abandonedResult;
    {
        boost::promise<std::string> abandoned;
        abandonedResult = then.ThenInline<void, std::string>(
            abandoned.get_future(), [&](boost::future<std::string>&) { called = true; });
    }
    EXPECT_THROW(abandonedResult.get(), boost::broken_promise);
    EXPECT_FALSE(called);

    boost::future<int> empty = then.ThenInline<int, int>(boost::future<int>(), [](boost::future<int>& f) { return f.get(); });
    EXPECT_THROW(empty.get(), boost::future_uninitialized);
    EXPECT_EQ(then.OutstandingCount(), 0u);
}

TEST(FutureThenTest, DestructorWaitsForPendingInlineContinuations)
{
    boost::promise<int> source;
    std::atomic<int> seen(0);
    std::atomic<bool> destroyed(false);
    std::atomic<bool> destroyedBeforeContinuation(false);
    auto then = std::make_unique<FutureThen>();
    then->ThenInline<void, int>(source.get_future(), [&](boost::future<int>& f) {
        destroyedBeforeContinuation = destroyed.load();
        seen = f.get();
    });
    boost::promise<void> destroying;
    boost::thread destroyer([&] {
        destroying.set_value();
        then.reset();
        destroyed = true;
    });
    destroying.get_future().get();
    source.set_value(5);
    destroyer.join();
    EXPECT_EQ(seen, 5);
    EXPECT_FALSE(destroyedBeforeContinuation);
}

} // namespace
