#pragma once

#include <memory>
#include <string>

#include "simulator/CalibrationRig.h"
#include "simulator/serve/PacedNullModem.h"

class RigSerialBridges;

// A calibration rig served on two paced null modems. Input-Card rig: the Input Card under test
// on the first line and the calibration board on the second (always 9600 baud), joined by the
// board's routing. Output-Card rig: the measuring Input Card (calibrated exactly) on the first
// line and the Output Card on the second, its outputs wired to the Input Card's inputs.
//
// The serving process opens the cards' ends as its own COM300 and COM301; the tool opens
// ToolPath(0) and ToolPath(1).
//
// Threads: construct and destroy on one thread; ToggleJumpers and ErrorsText from any.
class RigServer
{
public:
    RigServer(CalibrationRig::Kind kind, const CalibrationRig::Setup& setup, double noise,
              const PacedNullModem::Settings& cardLine);
    ~RigServer();

    const std::string& ToolPath(int line) const;
    // Fits or removes the jumpers for current; returns whether they are now fitted.
    bool ToggleJumpers();
    // The rig's true errors, one line per point, for judging a calibration by eye.
    std::string ErrorsText() const;

private:
    CalibrationRig::Kind m_kind;
    std::unique_ptr<PacedNullModem> m_cardLine;
    std::unique_ptr<PacedNullModem> m_secondLine;
    std::unique_ptr<RigSerialBridges> m_served;
};
