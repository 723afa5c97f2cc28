#pragma once

#include <cstdint>
#include <functional>

#include "calibration/CalibMaths.h"
#include "calibration/CalibResults.h"

class CalibReporter;
class TolvarenCommsCommon;
struct CalibRunContext;

// Calibrates what an Output Card generates, measured back through an already calibrated Input
// Card whose input i is wired to output i: voltage on all 16 outputs, current on outputs 13 to
// 16 (with jumpers on both cards). Fits each output's line from the codes written to what the
// Input Card measured, logs the tables and stores the result into the Output Card.
//
// Threads: the thread of one calibration run; every sleep and every wait for a card is an
// interruption point. Cards and reporter must outlive the calibrator.
class OutputCardCalibrator
{
public:
    typedef CalibMaths::RawValues RawValues;
    // The raw value the Input Card should read on input i.
    typedef std::function<double(unsigned index)> Expected;

    static constexpr unsigned firstCurrentOutput = 12;

    OutputCardCalibrator(unsigned allowedJitter, CalibReporter& reporter,
                         TolvarenCommsCommon& inputCard, TolvarenCommsCommon& outputCard,
                         std::function<void(int ms)> sleep);

    void SetAllowedJitter(unsigned counts) { m_allowedJitter = counts; }

    // Writes code to outputs first..15, settles, reads inputs first..15 into values (raw) and
    // reports each; with neither per-point settling nor sampling time every input is read once
    // more after settling and checked against the first.
    void GenerateAndMeasure(RawValues& values, std::uint16_t code, const Expected& expected,
                            unsigned first);
    // One path (0 voltage, 1 current) at the real values realA and realB.
    void CalibrateOutputPath(int path, double realA, double realB);
    // Blocks 0 to 3; zeros where a path did not calibrate.
    void StoreOutputCalibration();

    const CalibResults& Results() const { return m_results; }

    // The whole procedure of an Output Card run, up to the backup. The Output Card's watchdog
    // delay is off while it runs and is put back on every way out.
    static void RunProcedure(CalibRunContext& context, TolvarenCommsCommon& inputCard,
                             TolvarenCommsCommon& outputCard, std::uint16_t registerMapVersion);

private:
    unsigned m_allowedJitter;
    CalibReporter& m_reporter;
    TolvarenCommsCommon& m_inputCard;
    TolvarenCommsCommon& m_outputCard;
    std::function<void(int ms)> m_sleep;
    CalibResults m_results;
};
