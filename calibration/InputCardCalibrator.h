#pragma once

#include <cstdint>
#include <functional>

#include "calibration/CalibMaths.h"
#include "calibration/CalibResults.h"

class CalibBoard;
class CalibReporter;
class TolvarenCommsCommon;
struct CalibRunContext;

// Calibrates the 16 inputs of an Input Card with the calibration board routing its reference
// voltages, currents and resistors to them: measures every input at both references of a
// path, fits or estimates each input's calibration, logs the tables and stores the result into
// the card.
//
// Threads: the thread of one calibration run; every sleep and every wait for the card is an
// interruption point (boost::thread_interrupted ends the run). Board, card and reporter must
// outlive the calibrator.
class InputCardCalibrator
{
public:
    typedef CalibMaths::RawValues RawValues;

    InputCardCalibrator(unsigned allowedJitter, CalibReporter& reporter, CalibBoard& board,
                        TolvarenCommsCommon& card, std::function<void(int ms)> sleep);

    void SetAllowedJitter(unsigned counts) { m_allowedJitter = counts; }

    // Routes the board's pathCode/selection to every input in turn and reads each, reporting
    // the readings to the window when asked; with neither per-point settling nor sampling time
    // every input is read a second time after settling and checked against the first.
    void MeasureAllInputs(RawValues& values, std::uint8_t pathCode, unsigned selection,
                          bool reporting);
    // One path (0 voltage, 1 current, 2 low-range and 3 high-range resistance) at references A
    // and B (board selections selA and selB, real values realA and realB).
    void CalibrateInputPath(int path, unsigned selA, double realA, unsigned selB, double realB);
    // The card's internal rail, from every input open on the low-range path; needs this run's
    // voltage calibration.
    void MeasureRailVoltage();
    // Blocks 0 to 7, the last one the inductor's resistance.
    void StoreInputCalibration(double inductorResistance);

    const CalibResults& Results() const { return m_results; }
    float RailVoltage() const { return m_railVoltage; }

    // The whole procedure of an Input Card run, up to the backup.
    static void RunProcedure(CalibRunContext& context, TolvarenCommsCommon& card,
                             std::uint16_t registerMapVersion);

private:
    void LogTables(int path, double realA, double realB, double theoA, double theoB,
                   const RawValues& rawA, const RawValues& rawB,
                   const CalibMaths::PullUpEstimate* pullUps);

    unsigned m_allowedJitter;
    CalibReporter& m_reporter;
    CalibBoard& m_board;
    TolvarenCommsCommon& m_card;
    std::function<void(int ms)> m_sleep;
    CalibResults m_results;
    float m_railVoltage = 0.0f;
};
