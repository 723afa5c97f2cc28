#pragma once

#include <memory>

#include <boost/function.hpp>
#include <boost/system/error_code.hpp>

// A restartable one-shot timer with a thread of its own.
//
// Handlers always run on the timer's thread. A wait that is cancelled (by Cancel, or by a Start
// or Restart that replaces it) still calls its handler, with boost::asio::error::operation_aborted;
// every user tests for it. A wait that has already expired when it is cancelled may still be
// reported as a success, so users that re-arm the timer must recognise a stale expiry themselves.
//
// Threads: Start, Restart and Cancel may be called from any thread, including from inside a
// handler. The destructor stops and joins the thread (as Stop does); it must not run on the
// timer's thread.
class OneShotTimer
{
public:
    typedef boost::function<void(const boost::system::error_code&)> WaitHandler;

    OneShotTimer();
    ~OneShotTimer();
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    // Cancels any pending wait, stores the handler and, if it is not empty, waits milliseconds.
    void Start(const WaitHandler& handler, unsigned milliseconds);
    // Cancels any pending wait and waits again with the stored handler.
    // Throws ExceptionWithString "WaitHandler not set" when none is stored.
    void Restart(unsigned milliseconds);
    // Cancels any pending wait; its handler sees operation_aborted.
    void Cancel();
    // Stops the timer's thread and joins it; afterwards Start, Restart and Cancel do nothing.
    // Lets an owner shut the timer down while a running handler may still call back into it.
    // Must not be called on the timer's thread.
    void Stop();

private:
    class IoServiceThread;
    std::unique_ptr<IoServiceThread> m_impl;
};
