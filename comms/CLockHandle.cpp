#include "comms/CLockHandle.h"

#include <boost/throw_exception.hpp>

namespace {
std::atomic<unsigned long> nextThreadId{1};
}

unsigned long CLockHandle::CurrentThreadId()
{
    thread_local const unsigned long id = nextThreadId.fetch_add(1);
    return id;
}

CLockHandle::State CLockHandle::ReadState() const
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return State{m_owner.load(), m_depth};
}

void CLockHandle::Fail(const char* message, const State& state) const
{
    std::string text = message;
    text += " (CurrentThread = " + std::to_string(CurrentThreadId()) +
            ", OwnerThread = " + std::to_string(state.owner) +
            ", RefCount = " + std::to_string(state.depth) + ").";
    boost::throw_exception(CError(text));
}

unsigned CLockHandle::Lock()
{
    const unsigned long self = CurrentThreadId();
    const unsigned long owner = m_owner.load();
    if (owner != 0 && owner != self)
        ++m_contention;
    m_mutex.lock();
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_owner.store(self);
    return ++m_depth;
}

void CLockHandle::Unlock()
{
    if (!IsLockedByCurrentThread()) {
        // Owner and depth belong to another thread (or to nobody): one snapshot decides the
        // message and fills it in.
        const State state = ReadState();
        if (state.owner == 0)
            Fail("Cannot unlock lock-handle as refcount <= 0", state);
        Fail("Cannot unlock lock-handle as not locked by calling thread", state);
    }
    if (m_depth == 0)
        Fail("Cannot unlock lock-handle as refcount <= 0");
    {
        std::lock_guard<std::mutex> guard(m_stateMutex);
        if (--m_depth == 0)
            m_owner.store(0);
    }
    m_mutex.unlock();
}

bool CLockHandle::IsLockedByCurrentThread() const
{
    return m_owner.load() == CurrentThreadId();
}

CBriefUnlock::~CBriefUnlock()
{
    if (m_released) {
        try {
            LockAndRestore();
        } catch (...) {
        }
    }
}

void CBriefUnlock::BriefUnlock()
{
    if (!m_lock.IsLockedByCurrentThread())
        m_lock.Fail("Cannot brief-unlock since lock is not owned by calling thread.");
    m_savedOwner = m_lock.m_owner.load();
    m_savedDepth = m_lock.m_depth;
    for (unsigned i = 0; i < m_savedDepth; ++i)
        m_lock.Unlock();
    m_released = true;
}

void CBriefUnlock::LockAndRestore()
{
    m_released = false;
    if (m_lock.Lock() != 1)
        m_lock.Fail("LockAndRestore has gone crazy - the ref count != 1 after re-locking.");
    while (m_lock.m_depth < m_savedDepth)
        m_lock.Lock();
}
