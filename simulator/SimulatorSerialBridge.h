#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/signals2/connection.hpp>

#include "comms/SerialCommsThread.h"
#include "simulator/SlotGuard.h"

class FaultInjector;
class ModbusSimulator;

// Serves a simulated card on a serial port, so that any Modbus RTU master (another program, or
// this one on the other end of a cable or a pseudo-terminal pair) can talk to it. Bytes arriving
// on the port are gathered into whole request frames, each found by its CRC; bytes that the
// line's silence ends are one frame, answered when its CRC is valid. The simulator's replies are
// written back.
//
// Threads: request frames are passed to the simulator on the port's I/O thread, or on the
// bridge's silence thread for a frame that the silence ended, one at a time and in the order
// they came; replies are queued for the port on the simulator's thread. The queries may be
// called from any thread; construction and destruction happen on the owner's thread. The
// simulator may outlive the bridge: the destructor waits for a reply being handed to the port,
// and no reply reaches the bridge after it has returned.
//
// With a fault injector, each request and reply passes through it: what it delays is sent by the
// bridge's own sender thread when due (a late reply does not hold back the replies to the
// requests after it; a reply's pieces keep their order), and requestSeen and hangUp
// are called where the request is passed on, one call at a time (hangUp must not block).
// Without one, or while no fault is on and nothing is held, replies go to the port as they come.
class SimulatorSerialBridge final : private SerialCommsThread::IFeedback
{
public:
    struct Faults
    {
        std::shared_ptr<FaultInjector> injector;
        // The port is to vanish for ms milliseconds.
        std::function<void(unsigned ms)> hangUp;
        // Every whole request frame, before the injector decides on it.
        std::function<void(const ByteVec& request)> requestSeen;
    };

    // Opens COM<settings.port>; throws SerialCommsThread::Error as the port does.
    SimulatorSerialBridge(boost::shared_ptr<ModbusSimulator> simulator,
                          const SerialPortSettings& settings);
    SimulatorSerialBridge(boost::shared_ptr<ModbusSimulator> simulator,
                          const SerialPortSettings& settings, const Faults& faults);
    ~SimulatorSerialBridge();
    SimulatorSerialBridge(const SimulatorSerialBridge&) = delete;
    SimulatorSerialBridge& operator=(const SimulatorSerialBridge&) = delete;

    // Empty while the port works; the failure text once it has failed (the bridge then stays
    // silent until it is recreated).
    std::string GetError() const;
    // Reply bytes held back by a fault and not yet sent (pieces of one reply count once each).
    std::size_t HeldPieces() const;

    // Removes every whole request frame from the front of pending and returns them in order.
    // Bytes before a frame that cannot start one are dropped; an incomplete frame stays. Frame
    // lengths come from the function code or the vendor function's length byte where they fix
    // them, else from the first length whose CRC matches. At most one frame's worth (256 bytes)
    // of unmatched bytes is kept.
    static std::vector<ByteVec> TakeRequestFrames(ByteVec& pending);

private:
    struct Held
    {
        std::chrono::steady_clock::time_point due;
        ByteVec bytes;
    };

    void OnSerialData(ByteVec& bytes);
    // With m_pendingMutex held: passes each request on, through the fault injector if any.
    void PassOn(const std::vector<ByteVec>& requests);
    void WatchSilence();
    void OnReply(ByteVec& frame);
    void SendNow(const ByteVec& frame);
    // Queues pieces by their due time; returns false (and queues nothing) when nothing is held
    // and the pieces are one undelayed frame, which the caller then sends itself.
    bool Hold(const std::vector<std::pair<std::chrono::milliseconds, ByteVec>>& pieces);
    void SendHeld();
    void OnConnectionError(CommsConnection* connection, const std::exception& error) override;

    boost::shared_ptr<ModbusSimulator> m_simulator;
    std::mutex m_pendingMutex; // guards the next three, and passing requests on
    ByteVec m_pending;
    std::chrono::steady_clock::time_point m_lastBytesAt;
    bool m_stopWatching = false;
    std::condition_variable m_pendingChanged;
    std::thread m_silenceWatch;
    mutable std::mutex m_errorMutex;
    std::string m_error;
    Faults m_faults;
    mutable std::mutex m_heldMutex; // guards the next three
    std::condition_variable m_heldChanged;
    std::deque<Held> m_held;
    bool m_stopSending = false;
    std::thread m_sender; // runs only with an injector
    std::unique_ptr<SerialCommsThread> m_connection;
    SlotGuard m_replyGuard; // OnReply runs only while it is open
    boost::signals2::scoped_connection m_replySlot;
};
