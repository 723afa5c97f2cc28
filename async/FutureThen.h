#pragma once

#include <memory>

#include <boost/function.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/mutex.hpp>

#include "async/ScopedAsyncCalls.h"

// Continuations on futures. Each continuation waits for its antecedent on a worker thread of
// this object's own scope, so destroying the FutureThen waits for every antecedent still
// pending and for the continuations to finish.
//
// Threads: Then and ThenInline may be called from any thread. Then's continuation runs on a
// worker of this object; ThenInline's on the thread that completes the antecedent. The
// destructor must not run on one of its own continuations.
class FutureThen
{
public:
    FutureThen() = default;
    ~FutureThen();
    FutureThen(const FutureThen&) = delete;
    FutureThen& operator=(const FutureThen&) = delete;

    // Runs continuation once antecedent is ready and returns the future of its result.
    // A failed antecedent is handed over still holding its error, so the continuation's get()
    // raises it; an abandoned antecedent (broken promise) fails the result without calling the
    // continuation.
    template <class R, class T>
    boost::future<R> Then(boost::future<T> antecedent,
                          boost::function<R(boost::future<T>&)> continuation);

    // As Then, but without a thread of its own: the continuation runs on whichever thread
    // completes the antecedent (for a Modbus request, the datalink's comms or timer thread with
    // the datalink's lock held), or at once on the calling thread when the antecedent is ready
    // already. Only for short continuations that neither block nor take locks: converting a
    // value, checking it, caching it in an atomic. The destructor waits for the ones pending.
    template <class R, class T>
    boost::future<R> ThenInline(boost::future<T> antecedent,
                                boost::function<R(boost::future<T>&)> continuation);

    // Number of continuations still waiting or running.
    unsigned OutstandingCount() const;

private:
    // Counts the inline continuations not yet run. Shared with them, so that the one that
    // wakes the destructor does not touch a destroyed object.
    struct InlinePending
    {
        boost::mutex mutex;
        boost::condition_variable allDone;
        unsigned count = 0;

        void Add();
        void Done();
        void WaitForNone();
    };

    // Calls Done when the inline continuation ends, however it ends.
    class InlineDoneGuard
    {
    public:
        explicit InlineDoneGuard(std::shared_ptr<InlinePending> pending)
            : m_pending(std::move(pending))
        {
        }
        ~InlineDoneGuard() { m_pending->Done(); }
        InlineDoneGuard(const InlineDoneGuard&) = delete;
        InlineDoneGuard& operator=(const InlineDoneGuard&) = delete;

    private:
        std::shared_ptr<InlinePending> m_pending;
    };

    // Raises the antecedent's broken promise; any other error is left in it for the
    // continuation's own get().
    template <class T> static void PassOnBrokenPromise(boost::future<T>& antecedent);

    std::shared_ptr<InlinePending> m_inline = std::make_shared<InlinePending>();
    // Declared last: the threaded continuations are joined first.
    ScopedAsyncCalls m_calls;
};

template <class T> void FutureThen::PassOnBrokenPromise(boost::future<T>& antecedent)
{
    if (antecedent.has_exception()) {
        // get_exception_ptr leaves the future valid for the continuation's own get().
        try {
            boost::rethrow_exception(antecedent.get_exception_ptr());
        } catch (const boost::broken_promise&) {
            throw;
        } catch (...) {
        }
    }
}

template <class R, class T>
boost::future<R> FutureThen::Then(boost::future<T> antecedent,
                                  boost::function<R(boost::future<T>&)> continuation)
{
    auto held = std::make_shared<boost::future<T>>(std::move(antecedent));
    return m_calls.Call<R>([held, continuation]() -> R {
        held->wait();
        PassOnBrokenPromise(*held);
        if (continuation.empty()) {
            boost::throw_exception(boost::bad_function_call());
        }
        return continuation(*held);
    });
}

template <class R, class T>
boost::future<R> FutureThen::ThenInline(boost::future<T> antecedent,
                                        boost::function<R(boost::future<T>&)> continuation)
{
    if (!antecedent.valid()) {
        boost::promise<R> failed;
        failed.set_exception(boost::future_uninitialized());
        return failed.get_future();
    }
    std::shared_ptr<InlinePending> pending = m_inline;
    pending->Add();
    try {
        return antecedent.then(
            boost::launch::sync,
            [pending, continuation = std::move(continuation)](boost::future<T> ready) mutable -> R {
                InlineDoneGuard done(pending);
                PassOnBrokenPromise(ready);
                if (continuation.empty()) {
                    boost::throw_exception(boost::bad_function_call());
                }
                return continuation(ready);
            });
    } catch (...) {
        // Attaching failed (out of memory): nothing will run.
        pending->Done();
        throw;
    }
}
