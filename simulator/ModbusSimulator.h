#pragma once

#include <atomic>
#include <cstddef>
#include <deque>

#include <boost/system/error_code.hpp>
#include <boost/thread/lock_types.hpp>
#include <boost/thread/mutex.hpp>

#include "comms/ICommsInterface.h"
#include "comms/OneShotTimer.h"

// An in-process Modbus RTU slave behind the byte-pipe interface: it takes each request frame
// given to Transmit, asks HandleRequest for the answer and emits the reply (or exception) frame
// with its CRC on the data-received signal.
//
// Threads: Transmit, ConnectDataReceived and the reply controls may be called from any thread.
// HandleRequest runs on the thread that called Transmit, with the state lock held, so requests
// from several threads are handled one at a time and answered in the order they were handled.
// Replies are emitted on the simulator's own timer thread, never inside Transmit, and without
// any lock of the simulator held: a slot may call Transmit from inside the emission. The
// destructor joins the timer thread, so it must not run inside an emission; replies still queued
// then are dropped.
class ModbusSimulator : public ICommsInterface
{
public:
    // A HandleRequest result that sends nothing back: the master sees a time-out.
    static const int NoReply = -1;

    ~ModbusSimulator() override;
    ModbusSimulator(const ModbusSimulator&) = delete;
    ModbusSimulator& operator=(const ModbusSimulator&) = delete;

    // Frames shorter than 4 bytes or for another node address are ignored. The request's CRC is
    // not checked.
    void Transmit(const ByteVec& frame) override;
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override;

    // Answers one request. Returns 0 with replyData holding the reply data, a Modbus exception
    // code (replyData is then ignored), or NoReply.
    virtual int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                              ByteVec& replyData) = 0;

    unsigned char NodeAddress() const { return m_nodeAddress; }

    // Reply delivery controls, for stand-ins that imitate slow or awkward cards.
    // Every reply waits this long before it is emitted (0 by default).
    void SetReplyDelay(unsigned milliseconds);
    // Emits each reply in pieces of at most this many bytes; 0 (the default) emits it whole.
    void SetReplyChunkSize(std::size_t bytes);
    // While held, replies are kept in order and emitted only once released.
    void HoldReplies();
    void ReleaseReplies();

protected:
    ModbusSimulator();

    // Sees every request frame for this node as it arrived and the reply frame sent for it
    // (nullptr when none is sent), with the state lock held. Does nothing by default.
    virtual void FrameHandled(const ByteVec& request, const ByteVec* reply);

    // The lock under which HandleRequest runs. Subclasses take it when their tables are read or
    // changed from outside a request.
    boost::unique_lock<boost::mutex> LockState() const
    {
        return boost::unique_lock<boost::mutex>(m_stateMutex);
    }

private:
    void QueueReply(ByteVec&& frame);
    // Timer thread: emits every reply queued so far, whatever the error code (a wait cancelled
    // by a newer Start still delivers).
    void DeliverQueuedReplies(const boost::system::error_code&);
    void Emit(ByteVec& frame);

    const unsigned char m_nodeAddress = 1;
    DataReceivedSignal m_dataReceived;
    mutable boost::mutex m_stateMutex;

    boost::mutex m_replyMutex; // guards m_replies and m_held
    std::deque<ByteVec> m_replies;
    bool m_held = false;
    std::atomic<unsigned> m_replyDelayMs{0};
    std::atomic<std::size_t> m_chunkSize{0};

    // Last member: destroyed first, so its thread is joined before anything it uses goes away.
    OneShotTimer m_timer;
};
