#pragma once

#include <memory>

#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/CalibrationRig.h"
#include "tests/calibration/PtyJoin.h"

#include "calibration/CalibParams.h"
#include "simulator/RigSerialBridges.h"

// A calibration rig served in this process on two pseudo-terminal cables, and the tool's own
// serial stack on their other ends: COM300 reaches the (measuring) Input Card, COM301 the
// calibration board at 9600 baud (Input-Card rig) or the Output Card (Output-Card rig). The rig's
// far ends are COM302 and COM303.
//
// Threads: construct and destroy on one thread; the datalinks are usable from any.
class ServedRig : private IAutoReconnectSerialCommsFeedback
{
public:
    static constexpr int cardPort = 300;
    static constexpr int secondPort = 301;

    ServedRig(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup);
    ~ServedRig();

    CalibrationRig& Rig() { return m_served->Rig(); }
    SimulatedCalibBoard& Board() { return m_served->Board(); }
    ModbusMasterDatalink& InputLink() { return *m_inputLink; }
    ModbusMasterDatalink* OutputLink() { return m_outputLink.get(); }

private:
    std::unique_ptr<ModbusMasterDatalink> LinkTo(int port,
                                                 std::unique_ptr<AutoReconnectSerialComms>& comms);

    PtyJoin m_cardCable;
    PtyJoin m_secondCable;
    std::unique_ptr<RigSerialBridges> m_served;
    std::unique_ptr<AutoReconnectSerialComms> m_inputComms;
    std::unique_ptr<AutoReconnectSerialComms> m_outputComms;
    std::unique_ptr<ModbusMasterDatalink> m_inputLink;
    std::unique_ptr<ModbusMasterDatalink> m_outputLink;
};

// Checks (gtest expectations) that the calibration stored in the Input Card on link agrees with
// the rig's truth: the voltage and current lines at both references of params (noise of a few
// tenths of a count and, on the coarse scale, half a count of rounding), the rail, the pull-ups
// within 1.5 % and the inductor's resistance.
void ExpectStoredInputCalibrationMatchesRig(ModbusMasterDatalink& link, CalibrationRig& rig,
                                            const CalibParams& params);
