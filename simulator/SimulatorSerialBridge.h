#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/signals2/connection.hpp>

#include "comms/SerialCommsThread.h"
#include "simulator/SlotGuard.h"

class ModbusSimulator;

// Serves a simulated card on a serial port, so that any Modbus RTU master (another program, or
// this one on the other end of a cable or a pseudo-terminal pair) can talk to it. Bytes arriving
// on the port are gathered into whole request frames, each found by its CRC; the simulator's
// replies are written back.
//
// Threads: request frames are passed to the simulator on the port's I/O thread, replies are
// queued for the port on the simulator's thread. The queries may be called from any thread;
// construction and destruction happen on the owner's thread. The simulator may outlive the
// bridge: the destructor waits for a reply being handed to the port, and no reply reaches the
// bridge after it has returned.
class SimulatorSerialBridge : private SerialCommsThread::IFeedback
{
public:
    // Opens COM<settings.port>; throws SerialCommsThread::Error as the port does.
    SimulatorSerialBridge(boost::shared_ptr<ModbusSimulator> simulator,
                          const SerialPortSettings& settings);
    ~SimulatorSerialBridge();
    SimulatorSerialBridge(const SimulatorSerialBridge&) = delete;
    SimulatorSerialBridge& operator=(const SimulatorSerialBridge&) = delete;

    // Empty while the port works; the failure text once it has failed (the bridge then stays
    // silent until it is recreated).
    std::string GetError() const;

    // Removes every whole request frame from the front of pending and returns them in order.
    // (The bridge also drops unfinished bytes that were followed by a pause of 100 ms.)
    // Bytes before a frame that cannot start one are dropped; an incomplete frame stays. Frame
    // lengths come from the function code or the vendor function's length byte where they fix
    // them, else from the first length whose CRC matches. At most one frame's worth (256 bytes) of unmatched bytes is kept.
    static std::vector<ByteVec> TakeRequestFrames(ByteVec& pending);

private:
    void OnSerialData(ByteVec& bytes);
    void OnReply(ByteVec& frame);
    void OnConnectionError(CommsConnection* connection, const std::exception& error) override;

    boost::shared_ptr<ModbusSimulator> m_simulator;
    ByteVec m_pending; // I/O thread only, as is the next
    std::chrono::steady_clock::time_point m_lastBytesAt;
    mutable std::mutex m_errorMutex;
    std::string m_error;
    std::unique_ptr<SerialCommsThread> m_connection;
    SlotGuard m_replyGuard; // OnReply runs only while it is open
    boost::signals2::scoped_connection m_replySlot;
};
