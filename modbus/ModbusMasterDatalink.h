#pragma once

#include <chrono>
#include <list>
#include <memory>

#include <boost/exception_ptr.hpp>
#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/system/error_code.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/weak_ptr.hpp>

#include "comms/ByteVec.h"

class ICommsInterface;
class OneShotTimer;

// The Modbus RTU master's link layer: queues requests on one ICommsInterface, frames them with
// the node address and CRC, keeps one request on the wire at a time, reassembles the reply from
// whatever chunks arrive (the end of a reply is found by its CRC), checks it and fulfils the
// request's promise with the parsed value or a typed error. A reply time-out fails every queued
// request with Modbus::TimeoutError "No reply from node". Nothing is ever retransmitted.
//
// A reply can still come after its time-out, and Modbus RTU has nothing to tell it from the
// reply to the next request. So after a time-out the next request waits until the line has been
// quiet for a time-out's length: whatever arrives meanwhile is dropped and restarts the wait (up
// to three time-outs in all, so that a chattering line does not hold requests back for ever).
//
// Threads: SendRequest, CancelRequest, SetCommsInterface and the properties may be called from
// any thread. OnDataReceived runs on the comms interface's thread, OnReplyTimer on the timer's
// own thread. One recursive mutex serialises all of them; promises are fulfilled with it held, so
// continuations attached to the futures run on the comms or timer thread and may call back into
// the datalink (SendRequest from a continuation is fine). The destructor must not run on the
// comms or timer thread; it drops queued requests unfulfilled (their futures report a broken
// promise).
class ModbusMasterDatalink
{
public:
    class Request
    {
    public:
        // Called once with the reply data and no error, or with an empty reply and the error.
        typedef boost::function<void(const ByteVec& replyData, boost::exception_ptr error)>
            Completion;

        ByteVec frame;         // the whole request frame, CRC included
        Completion completion;
        bool cancelled = false; // head only: the reply is awaited and consumed, nothing completed
    };
    typedef boost::weak_ptr<Request> RequestHandle;

    explicit ModbusMasterDatalink(ICommsInterface* comms);
    ~ModbusMasterDatalink();
    ModbusMasterDatalink(const ModbusMasterDatalink&) = delete;
    ModbusMasterDatalink& operator=(const ModbusMasterDatalink&) = delete;

    // Throws ExceptionWithString while requests are outstanding. May be null (nothing is
    // transmitted then; requests time out).
    void SetCommsInterface(ICommsInterface* comms);
    ICommsInterface* GetCommsInterface() const;

    unsigned char GetNodeAddress() const;
    void SetNodeAddress(unsigned char address);
    unsigned GetReplyTimeoutMs() const;
    void SetReplyTimeoutMs(unsigned milliseconds);

    // Queues functionCode + data for the node; parseReply turns the reply data (between function
    // code and CRC) into the result and throws Modbus::ReplyTooShortError when it needs more bytes.
    // *handle receives the request's handle for CancelRequest. Data longer than 252 bytes throws
    // Modbus::Error "Message data length too long" and queues nothing.
    // Instantiated for std::string, std::vector of bool/float/unsigned char/unsigned int/short/
    // unsigned short, bool, float, unsigned short and void.
    template <typename T>
    boost::future<T> SendRequest(unsigned char functionCode, const ByteVec& data,
                                 const boost::function<T(const ByteVec&)>& parseReply,
                                 RequestHandle* handle);

    // A request still queued is removed; the one on the wire is marked cancelled (its reply is
    // still consumed). Its completion is never called, so its future ends as a broken promise.
    void CancelRequest(RequestHandle handle);

private:
    friend class ModbusMasterDatalinkTestPeer; // drives OnReplyTimer directly in tests

    typedef boost::shared_ptr<Request> RequestPtr;
    struct Shared;

    // All of these run with the lock held.
    void SendNextRequest();
    void OnDataReceived(ByteVec& chunk);
    // Gives the exchange on the wire a full reply time-out from now.
    void StartReplyTimer();
    void ArmTimer(std::chrono::steady_clock::time_point expiry);
    // Completes the head and sends the next request.
    void FinishHead(const ByteVec& replyData, boost::exception_ptr error);
    // While the line settles after a time-out: true (and the timer armed for the end of the
    // wait) when nothing may be transmitted yet.
    bool LineSettling();

    template <typename T>
    void CompleteRequest(const boost::shared_ptr<boost::promise<T>>& promise,
                         const boost::function<T(const ByteVec&)>& parseReply,
                         const ByteVec& replyData, boost::exception_ptr error);

    // Timer thread. waitId identifies the wait the handler belongs to; a superseded wait is
    // ignored. One wait serves many exchanges: it is not cancelled when a reply arrives nor
    // restarted for each request (each would cost the timer thread a wake-up per request), so an
    // expiry is checked against the deadline of the exchange on the wire at that moment.
    void OnReplyTimer(const boost::system::error_code& ec, unsigned long waitId);
    unsigned long CurrentWaitId() const;

    // Lives as long as the longest holder: the comms slot keeps it while it runs, so a chunk
    // delivered while the datalink is being destroyed finds the lock and the "alive" flag.
    boost::shared_ptr<Shared> m_shared;

    ICommsInterface* m_comms = nullptr;
    unsigned char m_nodeAddress = 1;
    unsigned m_replyTimeoutMs = 1000;
    ByteVec m_receiveBuffer;
    std::list<RequestPtr> m_queue;
    bool m_awaitingReply = false; // the head is on the wire and its deadline counts
    bool m_settling = false;      // after a time-out, until the line has been quiet
    std::chrono::steady_clock::time_point m_quietUntil; // while settling: sending may start
    std::chrono::steady_clock::time_point m_settleCap;  // while settling: the wait ends anyway
    std::chrono::milliseconds m_settleFor{0};            // the quiet needed, taken at the time-out
    std::chrono::steady_clock::time_point m_deadline;
    bool m_timerArmed = false;
    std::chrono::steady_clock::time_point m_timerExpiry;
    unsigned long m_waitId = 0;
    boost::signals2::connection m_connection;
    std::unique_ptr<OneShotTimer> m_timer;
};
