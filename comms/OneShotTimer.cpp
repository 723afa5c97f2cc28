#include "comms/OneShotTimer.h"

#include <boost/asio/deadline_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/thread/lock_types.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "comms/ExceptionWithString.h"

// An io_context kept busy by a work guard and run on a thread of its own, plus the one timer.
class OneShotTimer::IoServiceThread
{
public:
    IoServiceThread()
        : m_work(boost::asio::make_work_guard(m_io)), m_timer(m_io),
          m_thread([this] { m_io.run(); })
    {
    }

    ~IoServiceThread() { Stop(); }

    void Stop()
    {
        {
            boost::unique_lock<boost::mutex> lock(m_mutex);
            if (m_stopped)
                return;
            m_stopped = true;
            boost::system::error_code ignored;
            m_timer.cancel(ignored);
        }
        m_work.reset();
        // stop() rather than waiting for the queue to drain: a handler that re-arms the
        // timer would otherwise keep the thread alive for ever.
        m_io.stop();
        m_thread.join();
    }

    void StartWait(const WaitHandler& handler, unsigned milliseconds)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        if (m_stopped)
            return;
        boost::system::error_code ignored;
        m_timer.cancel(ignored);
        m_handler = handler;
        if (m_handler) {
            m_timer.expires_from_now(boost::posix_time::milliseconds(milliseconds));
            m_timer.async_wait(m_handler);
        }
    }

    void RestartWait(unsigned milliseconds)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        if (!m_handler)
            throw ExceptionWithString("WaitHandler not set");
        if (m_stopped)
            return;
        boost::system::error_code ignored;
        m_timer.cancel(ignored);
        m_timer.expires_from_now(boost::posix_time::milliseconds(milliseconds));
        m_timer.async_wait(m_handler);
    }

    void CancelWait()
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        if (m_stopped)
            return;
        boost::system::error_code ignored;
        m_timer.cancel(ignored);
    }

private:
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    // The timer object is not safe for concurrent use; m_mutex serialises callers. Handlers run
    // without it, so a handler may call back into the timer.
    boost::mutex m_mutex;
    boost::asio::deadline_timer m_timer;
    WaitHandler m_handler;
    bool m_stopped = false;
    boost::thread m_thread;
};

OneShotTimer::OneShotTimer() : m_impl(new IoServiceThread) {}

OneShotTimer::~OneShotTimer() = default;

void OneShotTimer::Start(const WaitHandler& handler, unsigned milliseconds)
{
    m_impl->StartWait(handler, milliseconds);
}

void OneShotTimer::Restart(unsigned milliseconds)
{
    m_impl->RestartWait(milliseconds);
}

void OneShotTimer::Cancel()
{
    m_impl->CancelWait();
}

void OneShotTimer::Stop()
{
    m_impl->Stop();
}
