#include "comms/CommsConnection.h"

#include <boost/throw_exception.hpp>

std::string ErrorCodeSuffix(int code)
{
    return " (error-code " + std::to_string(code) + ")";
}

CommsConnection::CommsConnection(std::unique_ptr<SerialPlatform::Port> port,
                                 ICommsConnectionFeedback* feedback, bool startSuspended)
    : m_feedback(feedback), m_port(std::move(port)), m_sendQueue(BufferSize),
      m_sendBuffer(new unsigned char[BufferSize]), m_receiveBuffer(new unsigned char[BufferSize]),
      m_suspended(startSuspended)
{
    if (!m_port)
        boost::throw_exception(
            ExceptionWithString("Supplied comms handle is invalid (is not connected to anything)"));
    try {
        m_thread = boost::thread([this, life = m_life] { ThreadProc(*life); });
    } catch (const boost::thread_resource_error& e) {
        boost::throw_exception(
            ExceptionWithString("Failed to start thread" + ErrorCodeSuffix(e.code().value())));
    }
}

CommsConnection::~CommsConnection()
{
    StopThread();
    // The port closes with m_port; events and buffers with their members.
}

void CommsConnection::ResumeThread()
{
    boost::lock_guard<boost::mutex> lock(m_gateMutex);
    if (!m_suspended || !m_thread.joinable())
        boost::throw_exception(ExceptionWithString(
            "thread was already running or was unable to be resumed" + ErrorCodeSuffix(0)));
    m_suspended = false;
    m_gateChanged.notify_all();
}

void CommsConnection::StopThread()
{
    m_stop = true;
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == boost::this_thread::get_id()) {
        // Destroyed from inside a call out of the I/O thread (the last owner let go in a data
        // slot or in the error report). A thread cannot join itself and a destructor must not
        // throw, so the thread ends by itself when the call returns, without touching this.
        m_life->ownerGone = true;
        m_thread.detach();
        return;
    }
    {
        boost::lock_guard<boost::mutex> lock(m_gateMutex);
        m_gateChanged.notify_all();
    }
    m_sendRequest.Set(); // wakes the wait at once
    m_thread.join();
}

void CommsConnection::Transmit(const ByteVec& bytes)
{
    m_lock.Lock();
    bool wakeThread = true;
    try {
        if (bytes.size() > m_sendQueue.Capacity() - m_sendQueue.Count())
            m_sendQueue.Push(bytes.data(), unsigned(bytes.size())); // "no room", as always
        if (WriteAtOnce(bytes))
            wakeThread = m_writePending; // the rest needs the port's writability watched
        else
            m_sendQueue.Push(bytes.data(), unsigned(bytes.size()));
    } catch (...) {
        m_lock.Unlock();
        throw;
    }
    m_lock.Unlock();
    if (wakeThread)
        m_sendRequest.Set();
}

bool CommsConnection::WriteAtOnce(const ByteVec& bytes)
{
    // With nothing queued or in flight the bytes go straight to the device (it never blocks):
    // waking the I/O thread only to write them costs a thread switch per request. Anything else
    // (earlier bytes still waiting, a write error) is left to the I/O thread, which writes in
    // order and reports errors as it always does; a part the device did not take waits in the
    // send buffer as the I/O thread's own pending write.
    if (m_stop || m_writePending || !m_sendQueue.IsEmpty() || m_errorReported || bytes.empty())
        return false;
    std::size_t written = 0;
    try {
        written = m_port->WriteSome(bytes.data(), bytes.size());
    } catch (const SerialPlatform::SystemError&) {
        return false;
    }
    if (written == 0)
        return false;
    if (written < bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), m_sendBuffer.get());
        m_sendLength = unsigned(bytes.size());
        m_sendOffset = unsigned(written);
        m_writePending = true;
    }
    m_watcher.load()->OnBytesTransmitted(bytes.data(), unsigned(bytes.size()));
    return true;
}

boost::signals2::connection
CommsConnection::ConnectDataReceived(const DataReceivedSignal::slot_type& slot)
{
    return m_signal->connect(slot);
}

void CommsConnection::SetCommsWatcher(ICommsWatcher* watcher)
{
    m_watcher = watcher ? watcher : &NullCommsWatcher;
}

void CommsConnection::ThreadProc(const ThreadLife& life)
{
    {
        boost::unique_lock<boost::mutex> lock(m_gateMutex);
        m_gateChanged.wait(lock, [this] { return !m_suspended || m_stop; });
    }
    try {
        RunLoop(life);
    } catch (const std::exception& e) {
        while (m_lock.IsLockedByCurrentThread())
            m_lock.Unlock();
        if (m_feedback && !m_stop) {
            m_errorReported = true;
            // The owner may destroy this object inside the call: touch nothing afterwards.
            m_feedback->OnConnectionError(this, e);
        }
    }
}

void CommsConnection::RunLoop(const ThreadLife& life)
{
    m_lock.Lock();
    StartRead();
    std::vector<SerialPlatform::WaitHandle> handles;
    while (!m_stop) {
        if (!m_received.empty() && !EmitReceived(life))
            return; // destroyed by a slot: nothing of this is left

        handles.clear();
        CollectWaitHandles(handles);
        std::vector<std::size_t> signalled;
        {
            CBriefUnlock unlocked(m_lock);
            unlocked.BriefUnlock();
            try {
                signalled = SerialPlatform::WaitForAny(handles, 20);
            } catch (const SerialPlatform::SystemError& e) {
                boost::throw_exception(ExceptionWithString("WaitForMultipleObjects() failed" +
                                                           ErrorCodeSuffix(e.Code())));
            }
            unlocked.LockAndRestore();
        }
        // Every signalled handle is served, so a busy receiver cannot starve the sender.
        for (std::size_t index : signalled) {
            if (m_stop)
                break;
            HandleWaitEvent(handles[index]);
        }
    }
    m_lock.Unlock();
}

bool CommsConnection::EmitReceived(const ThreadLife& life)
{
    // Only this thread fills m_received, so the bytes can leave it before the lock is released.
    ByteVec chunk;
    chunk.swap(m_received);
    const std::shared_ptr<DataReceivedSignal> signal = m_signal;
    unsigned depth = 0;
    while (m_lock.IsLockedByCurrentThread()) {
        m_lock.Unlock();
        ++depth;
    }
    try {
        (*signal)(chunk);
    } catch (...) {
        if (life.ownerGone)
            return false; // no one is left to report to
        while (depth-- > 0)
            m_lock.Lock();
        throw;
    }
    if (life.ownerGone)
        return false;
    while (depth-- > 0)
        m_lock.Lock();
    return true;
}

void CommsConnection::CollectWaitHandles(std::vector<SerialPlatform::WaitHandle>& handles)
{
    if (m_readPending)
        handles.push_back(m_port->Readable());
    if (m_writePending)
        handles.push_back(m_port->Writable());
    handles.push_back(m_sendRequest.Handle());
}

bool CommsConnection::HandleWaitEvent(SerialPlatform::WaitHandle signalled)
{
    if (signalled == m_port->Writable()) {
        if (m_writePending)
            ContinueWrite();
        StartWrite(); // anything queued meanwhile
        return true;
    }
    if (signalled == m_sendRequest.Handle()) {
        m_sendRequest.Reset();
        StartWrite();
        return true;
    }
    if (signalled == m_port->Readable()) {
        std::size_t n = 0;
        try {
            n = m_port->ReadSome(m_receiveBuffer.get(), BufferSize);
        } catch (const SerialPlatform::SystemError& e) {
            boost::throw_exception(ExceptionWithString("ReadFile failed" + ErrorCodeSuffix(e.Code())));
        }
        if (n > 0) {
            m_watcher.load()->OnBytesReceived(m_receiveBuffer.get(), unsigned(n));
            m_received.insert(m_received.end(), m_receiveBuffer.get(), m_receiveBuffer.get() + n);
        }
        m_readPending = false;
        StartRead();
        return true;
    }
    return false;
}

void CommsConnection::StartRead()
{
    // Reading is readiness-driven: "a read in flight" means the port is watched for input.
    m_readPending = true;
}

void CommsConnection::StartWrite()
{
    while (!m_writePending && !m_sendQueue.IsEmpty()) {
        m_sendLength = std::min(m_sendQueue.Count(), BufferSize);
        m_sendQueue.Pop(m_sendLength, m_sendBuffer.get());
        m_sendOffset = 0;
        m_writePending = true;
        ContinueWrite();
        m_watcher.load()->OnBytesTransmitted(m_sendBuffer.get(), m_sendLength);
    }
}

void CommsConnection::ContinueWrite()
{
    try {
        m_sendOffset += unsigned(m_port->WriteSome(m_sendBuffer.get() + m_sendOffset,
                                                   m_sendLength - m_sendOffset));
    } catch (const SerialPlatform::SystemError& e) {
        boost::throw_exception(ExceptionWithString("WriteFile failed" + ErrorCodeSuffix(e.Code())));
    }
    // Until all is written the port's writability is waited for.
    if (m_sendOffset == m_sendLength)
        m_writePending = false;
}
