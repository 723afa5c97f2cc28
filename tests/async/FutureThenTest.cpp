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

} // namespace
