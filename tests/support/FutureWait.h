#pragma once

#include <optional>
#include <typeinfo>

#include <boost/thread/future.hpp>
#include <gtest/gtest.h>

#include "tests/support/TestPace.h"

// Waiting on futures in tests, with a generous upper bound instead of sleeps.
namespace FutureWait {

const boost::chrono::seconds limit(10 * TestPaceFactor);

template <typename F>
bool Ready(F& future)
{
    return future.wait_for(limit) == boost::future_status::ready;
}

// Waits for the future and returns the error it holds when that is an E; records a test failure
// (and returns nothing) when it is not ready, holds a value or holds another type.
template <typename E, typename F>
std::optional<E> ErrorAs(F& future)
{
    if (!Ready(future)) {
        ADD_FAILURE() << "future not ready";
        return std::nullopt;
    }
    try {
        future.get();
    } catch (const E& error) {
        return error;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected " << typeid(error).name() << ": " << error.what();
        return std::nullopt;
    } catch (...) {
        ADD_FAILURE() << "unexpected exception of unknown type";
        return std::nullopt;
    }
    ADD_FAILURE() << "future holds a value, not an error";
    return std::nullopt;
}

} // namespace FutureWait
