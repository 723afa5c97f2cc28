#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comms/ICommsInterface.h"

// A comms interface for tests. It records every frame transmitted and delivers chosen bytes in
// chosen chunks on its own thread, one emission per chunk, never inside Transmit (as a real
// interface does). Replies come from an optional responder (frame in, chunks out) or are pushed
// with Emit.
//
// Threads: everything may be called from any thread, including from inside a data-received slot.
// Slots run on the delivery thread.
class ScriptedComms : public ICommsInterface
{
public:
    typedef std::vector<ByteVec> Chunks;
    typedef std::function<Chunks(const ByteVec& frame)> Responder;

    ScriptedComms();
    explicit ScriptedComms(Responder responder);
    ~ScriptedComms() override;

    void Transmit(const ByteVec& bytes) override;
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override;

    void SetResponder(Responder responder);
    // The next count calls of Transmit throw ExceptionWithString(message) and record nothing.
    void FailNextTransmits(unsigned count, const std::string& message = "transmit failed");

    // Queues chunks for delivery after everything queued before.
    void Emit(const Chunks& chunks);
    void Emit(const ByteVec& bytes) { Emit(Chunks{bytes}); }

    std::vector<ByteVec> Transmitted() const;
    std::size_t TransmitCount() const;
    // Waits until at least count frames have been transmitted in all.
    bool WaitForTransmitted(std::size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until every chunk queued so far has been delivered and its slots have returned.
    bool WaitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Splits bytes into one-byte chunks.
    static Chunks SingleBytes(const ByteVec& bytes);
    // Helpers for building frames: address, function code, data, CRC.
    static ByteVec Frame(unsigned char address, unsigned char functionCode, const ByteVec& data);

private:
    void Run();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    DataReceivedSignal m_signal;
    Responder m_responder;
    unsigned m_failures = 0;
    std::string m_failureMessage;
    std::vector<ByteVec> m_transmitted;
    std::deque<ByteVec> m_pending;
    bool m_delivering = false;
    bool m_stopping = false;
    std::thread m_thread;
};
