#pragma once

#include <list>
#include <memory>

#include <boost/exception_ptr.hpp>
#include <boost/function.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>
#include <boost/throw_exception.hpp>

// Runs blocking procedures on worker threads of their own and hands back their results as
// futures. Every worker belongs to the scope: the destructor waits for all of them, so a scope
// that is a member of an object keeps its workers from outliving that object's data.
//
// Threads: Call may be used from any thread, including from a worker of the same scope. The
// destructor must not run on one of the scope's own workers.
class ScopedAsyncCalls
{
public:
    ScopedAsyncCalls() = default;
    ~ScopedAsyncCalls();
    ScopedAsyncCalls(const ScopedAsyncCalls&) = delete;
    ScopedAsyncCalls& operator=(const ScopedAsyncCalls&) = delete;

    // Runs fn on a new worker thread. Whatever fn throws arrives in the future with its exact
    // type (program errors are thrown with boost::throw_exception). An interrupted worker leaves
    // its promise unsatisfied: the waiter sees boost::broken_promise.
    // Throws boost::thread_resource_error itself when no thread can be started.
    template <class T> boost::future<T> Call(boost::function<T()> fn);

    // Number of workers started and not yet finished.
    unsigned OutstandingCount() const;

private:
    template <class T> struct Fulfil;

    void StartWorker(std::shared_ptr<boost::function<void()>> job);
    void WorkerFinished();

    mutable boost::recursive_mutex m_mutex;
    std::list<boost::thread> m_threads;
    unsigned m_count = 0;
};

template <class T> struct ScopedAsyncCalls::Fulfil
{
    static void Run(boost::function<T()>& fn, boost::promise<T>& promise)
    {
        promise.set_value(fn());
    }
};

template <> struct ScopedAsyncCalls::Fulfil<void>
{
    static void Run(boost::function<void()>& fn, boost::promise<void>& promise)
    {
        fn();
        promise.set_value();
    }
};

template <class T> boost::future<T> ScopedAsyncCalls::Call(boost::function<T()> fn)
{
    auto promise = std::make_shared<boost::promise<T>>();
    boost::future<T> result = promise->get_future();
    auto job = std::make_shared<boost::function<void()>>([fn = std::move(fn), promise]() mutable {
        try {
            if (fn.empty()) {
                boost::throw_exception(boost::bad_function_call());
            }
            Fulfil<T>::Run(fn, *promise);
        } catch (const boost::thread_interrupted&) {
            throw;
        } catch (...) {
            promise->set_exception(boost::current_exception());
        }
    });
    StartWorker(job);
    return result;
}
