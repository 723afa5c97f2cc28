#pragma once

#include <functional>
#include <string>

#include "calibration/CalibReporter.h"

struct CalibrationRunInputs;

// What the steps of one calibration run share: its inputs, what it is doing (named in a failure
// message), its reporter and its interruptible sleep.
//
// Threads: the thread of that run only.
struct CalibRunContext
{
    CalibRunContext(const CalibrationRunInputs& runInputs, QObject* window)
        : inputs(runInputs), reporter(window)
    {
    }

    const CalibrationRunInputs& inputs;
    std::string activity = "initialising";
    CalibReporter reporter;
    // Skips 0 ms or less; an interruption point otherwise.
    std::function<void(int ms)> sleep;
};
