#pragma once

#include <memory>

#include <boost/function.hpp>
#include <boost/thread/future.hpp>

#include "async/ScopedAsyncCalls.h"

// Continuations on futures. Each continuation waits for its antecedent on a worker thread of
// this object's own scope, so destroying the FutureThen waits for every antecedent still
// pending and for the continuations to finish.
//
// Threads: Then may be called from any thread; the continuation runs on a worker of this
// object. The destructor must not run on one of its own continuations.
class FutureThen
{
public:
    FutureThen() = default;
    FutureThen(const FutureThen&) = delete;
    FutureThen& operator=(const FutureThen&) = delete;

    // Runs continuation once antecedent is ready and returns the future of its result.
    // A failed antecedent is handed over still holding its error, so the continuation's get()
    // raises it; an abandoned antecedent (broken promise) fails the result without calling the
    // continuation.
    template <class R, class T>
    boost::future<R> Then(boost::future<T> antecedent,
                          boost::function<R(boost::future<T>&)> continuation);

    // Number of continuations still waiting or running.
    unsigned OutstandingCount() const { return m_calls.OutstandingCount(); }

private:
    ScopedAsyncCalls m_calls;
};

template <class R, class T>
boost::future<R> FutureThen::Then(boost::future<T> antecedent,
                                  boost::function<R(boost::future<T>&)> continuation)
{
    auto held = std::make_shared<boost::future<T>>(std::move(antecedent));
    return m_calls.Call<R>([held, continuation]() -> R {
        held->wait();
        if (held->has_exception()) {
            // get_exception_ptr leaves the future valid for the continuation's own get().
            try {
                boost::rethrow_exception(held->get_exception_ptr());
            } catch (const boost::broken_promise&) {
                throw;
            } catch (...) {
            }
        }
        if (continuation.empty()) {
            boost::throw_exception(boost::bad_function_call());
        }
        return continuation(*held);
    });
}
