#pragma once

#include <memory>

#include "simulator/CalibrationRig.h"

class CalibBoardSerialBridge;
class SimulatedCalibBoard;
class SimulatorSerialBridge;

// A calibration rig and its board served on two serial ports of this process. Input-Card rig:
// the Input Card under test on the first port and the calibration board (9600 baud) on the
// second, joined by the board's routing. Output-Card rig: the measuring Input Card on the first
// port and the Output Card on the second, its outputs wired to the Input Card's inputs.
//
// Threads: construct and destroy on one thread; the rig and the board may be used from any.
// The bridges stop talking before the rig goes.
class RigSerialBridges
{
public:
    // Opens COM<cardPort> and COM<secondPort>; throws as SimulatorSerialBridge does.
    RigSerialBridges(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup, int cardPort,
                     int secondPort, int cardBaud);
    ~RigSerialBridges();
    RigSerialBridges(const RigSerialBridges&) = delete;
    RigSerialBridges& operator=(const RigSerialBridges&) = delete;

    CalibrationRig& Rig() { return *m_rig; }
    const CalibrationRig& Rig() const { return *m_rig; }
    SimulatedCalibBoard& Board() { return *m_board; }

private:
    std::shared_ptr<SimulatedCalibBoard> m_board;
    std::unique_ptr<CalibrationRig> m_rig;
    std::unique_ptr<SimulatorSerialBridge> m_inputBridge;
    std::unique_ptr<SimulatorSerialBridge> m_outputBridge;
    std::unique_ptr<CalibBoardSerialBridge> m_boardBridge;
};
