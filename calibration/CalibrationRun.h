#pragma once

#include <functional>
#include <string>

#include <boost/thread/thread.hpp>

#include "calibration/CalibParams.h"

class ModbusMasterDatalink;
class QObject;

// What a calibration run is given when it starts; the window fills it and nothing changes it
// afterwards.
struct CalibrationRunInputs
{
    bool outputCard = false;       // false: an Input Card, with the calibration board
    CalibParams params;            // frozen when the run starts
    unsigned allowedJitterVR = 0;  // raw counts, voltage and resistance phases
    unsigned allowedJitterI = 0;   // raw counts, current phases
    int boardPort = 0;             // COM number of the calibration board (Input Card runs)
    std::string logBasePath;       // the backup goes to logBasePath + ".dat"
    // The main window's card: the card under test of an Input Card run, the measuring card of an
    // Output Card run. Both links outlive the run.
    ModbusMasterDatalink* inputCardLink = nullptr;
    ModbusMasterDatalink* outputCardLink = nullptr; // Output Card runs only
    // Every interruptible sleep of the run goes through this (milliseconds; 0 or less is
    // skipped). Empty: boost::this_thread::sleep_for, an interruption point. Tests pass a
    // shorter one.
    std::function<void(int ms)> sleep;
};

// Starts a calibration run on a thread of its own and returns that thread. The run reports to
// window only through its slots, invoked queued: AddLogLine(QString),
// HandleNewCalibVal(int, int, int, double, double), CalibrationFinishedWithSuccess(),
// CalibrationFinishedWithError(QString), and for Output Cards the blocking
// bool AwaitJumpersForCurrent() and bool OutputCurrentCalibFailed(QString). Interrupting the
// thread cancels the run silently at its next sleep or card wait; window must outlive the
// thread.
boost::thread StartCalibrationRun(const CalibrationRunInputs& inputs, QObject* window);
