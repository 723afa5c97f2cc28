#include <atomic>
#include <string>

#include <boost/thread/future.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "comms/CLockHandle.h"

namespace {

std::string LockErrorText(const boost::function<void()>& action)
{
    try {
        action();
    } catch (const CLockHandle::CError& e) {
        return e.what();
    }
    return "no error";
}

TEST(CLockHandleTest, BriefUnlockReleasesCompletelyAndRestoresDepthAndOwner)
{
    CLockHandle lock;
    EXPECT_EQ(lock.Lock(), 1u);
    EXPECT_EQ(lock.Lock(), 2u);
    EXPECT_EQ(lock.Lock(), 3u);

    CBriefUnlock guard(lock);
    guard.BriefUnlock();
    EXPECT_FALSE(lock.IsLockedByCurrentThread());
    // Another thread can take and release it meanwhile.
    auto other = boost::async(boost::launch::async, [&] {
        lock.Lock();
        const bool mine = lock.IsLockedByCurrentThread();
        lock.Unlock();
        return mine;
    });
    EXPECT_TRUE(other.get());

    guard.LockAndRestore();
    EXPECT_TRUE(lock.IsLockedByCurrentThread());
    EXPECT_EQ(lock.GetDepth(), 3u);
    lock.Unlock();
    lock.Unlock();
    lock.Unlock();
    EXPECT_FALSE(lock.IsLockedByCurrentThread());
}

TEST(CLockHandleTest, GuardLeftReleasedRestoresOnDestruction)
{
    CLockHandle lock;
    lock.Lock();
    lock.Lock();
    {
        CBriefUnlock guard(lock);
        guard.BriefUnlock();
    }
    EXPECT_TRUE(lock.IsLockedByCurrentThread());
    EXPECT_EQ(lock.GetDepth(), 2u);
    lock.Unlock();
    lock.Unlock();
}

TEST(CLockHandleTest, MisuseIsReportedWithThreadsAndDepth)
{
    CLockHandle lock;
    EXPECT_EQ(LockErrorText([&] { lock.Unlock(); }),
              "Cannot unlock lock-handle as refcount <= 0 (CurrentThread = " +
                  std::to_string(CLockHandle::CurrentThreadId()) +
                  ", OwnerThread = 0, RefCount = 0).");
    CBriefUnlock guard(lock);
    EXPECT_EQ(LockErrorText([&] { guard.BriefUnlock(); }).rfind(
                  "Cannot brief-unlock since lock is not owned by calling thread. (", 0),
              0u);

    lock.Lock();
    const unsigned long owner = CLockHandle::CurrentThreadId();
    auto foreign = boost::async(boost::launch::async, [&] {
        return std::make_pair(LockErrorText([&] { lock.Unlock(); }), CLockHandle::CurrentThreadId());
    }).get();
    EXPECT_EQ(foreign.first, "Cannot unlock lock-handle as not locked by calling thread "
                             "(CurrentThread = " + std::to_string(foreign.second) +
                                 ", OwnerThread = " + std::to_string(owner) + ", RefCount = 1).");
    // The failed unlock changed nothing.
    EXPECT_TRUE(lock.IsLockedByCurrentThread());
    EXPECT_EQ(lock.GetDepth(), 1u);
    lock.Unlock();
}

// A foreign unlock while the owner keeps taking and releasing the lock reports an owner and
// depth that belong together: nobody at depth 0, or the owner at a depth it really held.
TEST(CLockHandleTest, ForeignUnlockReportsAConsistentOwnerAndDepth)
{
    CLockHandle lock;
    std::atomic<bool> done{false};
    boost::promise<unsigned long> started;
    boost::thread owner([&] {
        started.set_value(CLockHandle::CurrentThreadId());
        for (int i = 0; i < 200000; ++i) {
            lock.Lock();
            lock.Lock();
            lock.Unlock();
            lock.Unlock();
        }
        done = true;
    });
    const std::string ownerId = std::to_string(started.get_future().get());
    const std::string self = std::to_string(CLockHandle::CurrentThreadId());
    const std::string nobody = "Cannot unlock lock-handle as refcount <= 0 (CurrentThread = " +
                               self + ", OwnerThread = 0, RefCount = 0).";
    const std::string held = "Cannot unlock lock-handle as not locked by calling thread "
                             "(CurrentThread = " + self + ", OwnerThread = " + ownerId +
                             ", RefCount = ";
    int reports = 0;
    while (!done || reports == 0) {
        const std::string text = LockErrorText([&] { lock.Unlock(); });
        ++reports;
        if (text != nobody && text != held + "1)." && text != held + "2).")
            ADD_FAILURE() << text;
        if (HasFailure())
            break;
    }
    owner.join();
    EXPECT_FALSE(lock.IsLockedByCurrentThread());
}

TEST(CLockHandleTest, CountsLocksThatFoundAnotherOwner)
{
    CLockHandle lock;
    lock.Lock();
    boost::promise<void> trying;
    boost::thread waiter([&] {
        trying.set_value();
        lock.Lock();
        lock.Unlock();
    });
    trying.get_future().wait();
    // The waiter counts its contention before it blocks; wait until it has.
    while (lock.GetContentionCount() == 0)
        boost::this_thread::yield();
    lock.Unlock();
    waiter.join();
    EXPECT_EQ(lock.GetContentionCount(), 1u);
}

} // namespace
