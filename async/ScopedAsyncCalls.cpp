#include "async/ScopedAsyncCalls.h"

#include <algorithm>

ScopedAsyncCalls::~ScopedAsyncCalls()
{
    // Take the list over and join it; repeat for calls that workers started meanwhile. A worker
    // finishing during the join finds nothing of its own in the emptied list and just ends.
    for (;;) {
        std::list<boost::thread> running;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_mutex);
            running.swap(m_threads);
            m_count = 0;
        }
        if (running.empty()) {
            break;
        }
        for (boost::thread& t : running) {
            if (t.joinable()) {
                t.join();
            }
        }
    }
}

unsigned ScopedAsyncCalls::OutstandingCount() const
{
    boost::lock_guard<boost::recursive_mutex> lock(m_mutex);
    return m_count;
}

void ScopedAsyncCalls::StartWorker(std::shared_ptr<boost::function<void()>> job)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_mutex);
    // The worker's bookkeeping takes the same mutex, so it cannot look for its entry before the
    // entry has been appended below.
    boost::thread worker([this, job]() mutable {
        try {
            (*job)();
        } catch (const boost::thread_interrupted&) {
            // Dropping the job destroys the unsatisfied promise (broken_promise for the
            // waiter); the destructor joins this thread's entry.
            job.reset();
            throw;
        }
        // Release the procedure and its captures before the scope can be gone.
        job.reset();
        WorkerFinished();
    });
    m_threads.push_back(std::move(worker));
    ++m_count;
}

void ScopedAsyncCalls::WorkerFinished()
{
    boost::lock_guard<boost::recursive_mutex> lock(m_mutex);
    const boost::thread::id self = boost::this_thread::get_id();
    auto it = std::find_if(m_threads.begin(), m_threads.end(),
                           [&](const boost::thread& t) { return t.get_id() == self; });
    if (it != m_threads.end()) {
        it->detach();
        m_threads.erase(it);
        --m_count;
    }
}
