#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <boost/thread/thread.hpp>

#include "comms/CLockHandle.h"
#include "comms/Circbuf.h"
#include "comms/ICommsConnectionFeedback.h"
#include "comms/ICommsInterface.h"
#include "comms/ICommsWatcher.h"
#include "comms/SerialPlatform.h"

// An ICommsInterface over one open byte-stream device, served by an I/O thread of its own. The
// thread keeps reading, writes what Transmit queues, emits the received bytes and reports a fatal
// error once through ICommsConnectionFeedback.
//
// Threads:
// - Transmit, ConnectDataReceived, SetCommsWatcher: any thread, also from inside a slot of the
//   data signal (the I/O thread releases its lock while it emits).
// - The data signal, CollectWaitHandles/HandleWaitEvent and OnConnectionError run on the I/O
//   thread. The watcher is called with the lock held (on the I/O thread, or on Transmit's caller
//   for bytes written at once), the feedback after the lock has been released.
// - The destructor runs on any thread. On the I/O thread (from a slot of the data signal or from
//   OnConnectionError, never from a watcher call) it asks the thread to stop and lets it end on
//   its own once the call returns, touching nothing of the destroyed object.
class CommsConnection : public ICommsInterface
{
public:
    static constexpr unsigned BufferSize = 1024;

    // Takes ownership of the device. With startSuspended the I/O thread waits for ResumeThread.
    // Throws ExceptionWithString for a null device or when the thread cannot be started.
    CommsConnection(std::unique_ptr<SerialPlatform::Port> port, ICommsConnectionFeedback* feedback,
                    bool startSuspended = false);
    ~CommsConnection() override;
    CommsConnection(const CommsConnection&) = delete;
    CommsConnection& operator=(const CommsConnection&) = delete;

    // Writes the bytes at once when nothing else is waiting to go out, else queues them for the
    // I/O thread; Circbuf::Error "no room" when they do not fit in the queue.
    void Transmit(const ByteVec& bytes) override;
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override;

    // Null installs NullCommsWatcher.
    void SetCommsWatcher(ICommsWatcher* watcher);

protected:
    // The I/O thread waits for any of these; a subclass appends its own after the base's.
    virtual void CollectWaitHandles(std::vector<SerialPlatform::WaitHandle>& handles);
    // Handles one signalled handle; false when it is not one of ours.
    virtual bool HandleWaitEvent(SerialPlatform::WaitHandle signalled);

    // Lets a thread created suspended run. Throws unless it was suspended and is now released.
    void ResumeThread();
    // Stops and joins the I/O thread; on the I/O thread itself it only asks it to stop (see the
    // destructor). A subclass that overrides the wait handling calls it first in its destructor.
    void StopThread();

    SerialPlatform::Port& GetPort() { return *m_port; }
    CLockHandle& GetLock() { return m_lock; }

private:
    // Outlives the object while its thread runs: tells the thread, when a call out of it returns,
    // that the object was destroyed inside that call. Read and written on the I/O thread only.
    struct ThreadLife
    {
        bool ownerGone = false;
    };

    void ThreadProc(const ThreadLife& life);
    void RunLoop(const ThreadLife& life);
    bool EmitReceived(const ThreadLife& life);
    void StartRead();
    void StartWrite();
    void ContinueWrite();
    // Lock held. True when the device took the bytes (a part it did not take is left pending in
    // the send buffer); false when they must be queued.
    bool WriteAtOnce(const ByteVec& bytes);

    CLockHandle m_lock;
    ByteVec m_received;
    ICommsConnectionFeedback* m_feedback;
    std::unique_ptr<SerialPlatform::Port> m_port;
    Circbuf m_sendQueue;
    std::atomic<bool> m_stop{false};
    std::atomic<ICommsWatcher*> m_watcher{&NullCommsWatcher};
    // Shared so that an emission in progress keeps it alive when a slot destroys the connection.
    std::shared_ptr<DataReceivedSignal> m_signal = std::make_shared<DataReceivedSignal>();
    std::unique_ptr<unsigned char[]> m_sendBuffer;
    std::unique_ptr<unsigned char[]> m_receiveBuffer;
    unsigned m_sendLength = 0;
    unsigned m_sendOffset = 0;
    SerialPlatform::Event m_sendRequest;
    bool m_writePending = false;
    bool m_readPending = false;
    std::atomic<bool> m_errorReported{false};

    // Start gate of a thread created suspended.
    boost::mutex m_gateMutex;
    boost::condition_variable m_gateChanged;
    bool m_suspended;
    std::shared_ptr<ThreadLife> m_life = std::make_shared<ThreadLife>();
    boost::thread m_thread;
};

// " (error-code N)" with the given system error number.
std::string ErrorCodeSuffix(int code);
