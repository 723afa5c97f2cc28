#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "comms/SerialCommsThread.h"

class SimulatedCalibBoard;

// Serves a simulated calibration board on a serial port: bytes arriving on the port go to the
// board, its replies are written back at once.
//
// Threads: the board is fed and its replies are queued on the port's I/O thread, the only
// thread that calls into the bridge apart from its owner. GetError may be called from any
// thread; construction and destruction happen on the owner's thread. The destructor joins the
// I/O thread first, so no byte reaches the board through the bridge after it has returned. The
// board may outlive the bridge.
class CalibBoardSerialBridge final : private SerialCommsThread::IFeedback
{
public:
    // Opens COM<settings.port>; throws SerialCommsThread::Error as the port does.
    CalibBoardSerialBridge(std::shared_ptr<SimulatedCalibBoard> board,
                           const SerialPortSettings& settings);
    ~CalibBoardSerialBridge();
    CalibBoardSerialBridge(const CalibBoardSerialBridge&) = delete;
    CalibBoardSerialBridge& operator=(const CalibBoardSerialBridge&) = delete;

    // Empty while the port works; the failure text once it has failed (the bridge then stays
    // silent until it is recreated).
    std::string GetError() const;

private:
    void OnSerialData(ByteVec& bytes);
    void OnConnectionError(CommsConnection* connection, const std::exception& error) override;

    std::shared_ptr<SimulatedCalibBoard> m_board;
    std::chrono::steady_clock::time_point m_lastBytesAt; // I/O thread only
    mutable std::mutex m_errorMutex;
    std::string m_error;
    std::unique_ptr<SerialCommsThread> m_connection; // last: destroyed, and joined, first
};
