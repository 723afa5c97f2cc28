#pragma once

#include <utility>

#include <boost/thread/future.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

// Stands between a card request and the delivery of its converted result. The request completes
// whenever the card answers or the datalink times it out, possibly after its window has gone;
// the window closes the relay instead when it goes, so that whoever waits for Future() stops
// waiting at once (it sees a broken promise) and the late reply touches nothing but the relay.
//
// Threads: Complete runs on the thread that completes the request (a datalink thread, or the
// caller's for a request that failed at once); Close on the owner's thread. The first of the two
// decides the result. Hold the relay in a shared_ptr that the completion keeps alive.
template <class T> class ReplyRelay
{
public:
    boost::future<T> Future() { return m_promise.get_future(); }

    // Sets the result to convert(reply.get()), or to the error either raises.
    template <class Reply, class Convert>
    void Complete(boost::future<Reply>& reply, Convert convert)
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        if (!m_open)
            return;
        m_open = false;
        try {
            m_promise.set_value(convert(reply.get()));
        } catch (...) {
            m_promise.set_exception(boost::current_exception());
        }
    }

    void Close()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        if (!m_open)
            return;
        m_open = false;
        m_promise.set_exception(boost::copy_exception(boost::broken_promise()));
    }

private:
    boost::mutex m_mutex;
    boost::promise<T> m_promise;
    bool m_open = true;
};
