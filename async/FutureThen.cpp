#include "async/FutureThen.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/lock_types.hpp>

FutureThen::~FutureThen()
{
    // The threaded continuations (m_calls) are joined after this body; the inline ones hold no
    // thread and are waited for here. Their antecedents complete on other threads.
    m_inline->WaitForNone();
}

unsigned FutureThen::OutstandingCount() const
{
    unsigned inlinePending;
    {
        boost::lock_guard<boost::mutex> lock(m_inline->mutex);
        inlinePending = m_inline->count;
    }
    return m_calls.OutstandingCount() + inlinePending;
}

void FutureThen::InlinePending::Add()
{
    boost::lock_guard<boost::mutex> lock(mutex);
    ++count;
}

void FutureThen::InlinePending::Done()
{
    boost::lock_guard<boost::mutex> lock(mutex);
    if (--count == 0) {
        allDone.notify_all();
    }
}

void FutureThen::InlinePending::WaitForNone()
{
    boost::unique_lock<boost::mutex> lock(mutex);
    while (count != 0) {
        allDone.wait(lock);
    }
}
