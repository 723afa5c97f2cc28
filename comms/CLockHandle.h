#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include <boost/thread/recursive_mutex.hpp>

#include "comms/ExceptionWithString.h"

// A recursive lock that knows its owner and recursion depth, so that the I/O thread of a serial
// connection can release it completely around a wait or a signal emission and restore it after.
//
// Threads: any thread may Lock/Unlock. The owner and depth are written only by the thread that
// holds the lock, and together under a small state mutex, so that a misuse report from another
// thread reads a consistent pair without waiting for the lock itself. IsLockedByCurrentThread and
// GetContentionCount may be asked from any thread.
class CLockHandle
{
public:
    class CError : public ExceptionWithString
    {
    public:
        explicit CError(const std::string& message) : ExceptionWithString(message) {}
    };

    CLockHandle() = default;
    CLockHandle(const CLockHandle&) = delete;
    CLockHandle& operator=(const CLockHandle&) = delete;

    // Returns the new recursion depth.
    unsigned Lock();
    void Unlock();
    bool IsLockedByCurrentThread() const;
    unsigned GetContentionCount() const { return m_contention.load(); }
    // Recursion depth; meaningful to the owning thread only.
    unsigned GetDepth() const { return m_depth; }

    // A small positive number for the calling thread, stable for its life (0 means "nobody").
    static unsigned long CurrentThreadId();

private:
    friend class CBriefUnlock;
    struct State
    {
        unsigned long owner;
        unsigned depth;
    };
    State ReadState() const;
    [[noreturn]] void Fail(const char* message) const { Fail(message, ReadState()); }
    [[noreturn]] void Fail(const char* message, const State& state) const;

    boost::recursive_mutex m_mutex;
    mutable std::mutex m_stateMutex; // guards writes of m_owner and m_depth, and foreign reads
    std::atomic<unsigned long> m_owner{0};
    unsigned m_depth = 0;
    std::atomic<unsigned> m_contention{0};
};

// Releases a CLockHandle completely and takes it back to the same depth. If the guard is
// destroyed while released (an exception between the two calls), it restores the lock.
class CBriefUnlock
{
public:
    explicit CBriefUnlock(CLockHandle& lock) : m_lock(lock) {}
    ~CBriefUnlock();
    CBriefUnlock(const CBriefUnlock&) = delete;
    CBriefUnlock& operator=(const CBriefUnlock&) = delete;

    void BriefUnlock();
    void LockAndRestore();

private:
    CLockHandle& m_lock;
    unsigned long m_savedOwner = 0;
    unsigned m_savedDepth = 0;
    bool m_released = false;
};
