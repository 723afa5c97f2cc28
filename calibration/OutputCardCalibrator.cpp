#include "calibration/OutputCardCalibrator.h"

#include <exception>

#include <boost/thread/thread.hpp>
#include <boost/throw_exception.hpp>

#include "calibration/CalibLogTable.h"
#include "calibration/CalibReporter.h"
#include "calibration/CalibRunContext.h"
#include "calibration/CalibSettings.h"
#include "calibration/CalibrationMapping.h"
#include "calibration/CalibrationRun.h"
#include "comms/ExceptionWithString.h"
#include "protocol/TolvarenCommsCommon.h"

using namespace CalibMaths;
using namespace CalibLogTable;

namespace {

std::string ValueRow(const std::string& label, unsigned first,
                     const std::function<double(unsigned)>& value, int decimals)
{
    std::string row = LabelCell(label);
    for (unsigned i = first; i < CalibResults::numPoints; ++i)
        row += ValueCell(value(i), decimals);
    return row;
}

[[noreturn]] void UserCancelled()
{
    boost::throw_exception(ExceptionWithString("user cancelled"));
}

// Puts the Output Card's watchdog delay back when the procedure leaves early. A cancelled run
// restores it too: the pending interruption is held off while the card is written.
class WatchdogRestorer
{
public:
    WatchdogRestorer(TolvarenCommsCommon& card, CalibReporter& reporter)
        : m_card(card), m_reporter(reporter)
    {
    }

    void Saved(std::uint16_t delay)
    {
        m_delay = delay;
        m_armed = true;
    }
    // The normal way back, whose failure is the run's.
    void Restore()
    {
        m_card.WriteSingleRegister(TolvarenCommsCommon::regCommsDogBusOffDelay, m_delay).get();
        m_armed = false;
    }
    // Best effort on the way out of a failed or cancelled run; never throws.
    void RestoreAfterFailure() noexcept
    {
        if (!m_armed)
            return;
        m_armed = false;
        boost::this_thread::disable_interruption holdOff;
        std::string failure;
        try {
            Restore();
            return;
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "unknown error";
        }
        try {
            m_reporter.Log("Could not restore the Output Card's watchdog delay (" +
                           std::to_string(m_delay) + " s): " + failure);
        } catch (...) {
            // The window is not answering; the run's own error still goes out.
        }
    }

private:
    TolvarenCommsCommon& m_card;
    CalibReporter& m_reporter;
    std::uint16_t m_delay = 0;
    bool m_armed = false;
};

} // namespace

OutputCardCalibrator::OutputCardCalibrator(unsigned allowedJitter, CalibReporter& reporter,
                                           TolvarenCommsCommon& inputCard,
                                           TolvarenCommsCommon& outputCard,
                                           std::function<void(int ms)> sleep)
    : m_allowedJitter(allowedJitter), m_reporter(reporter), m_inputCard(inputCard),
      m_outputCard(outputCard), m_sleep(std::move(sleep))
{
}

void OutputCardCalibrator::GenerateAndMeasure(RawValues& values, std::uint16_t code,
                                              const Expected& expected, unsigned first)
{
    const CalibSettings& settings = CalibSettings::Instance();
    for (unsigned i = first; i < CalibResults::numPoints; ++i) {
        m_outputCard.WriteSingleRegister(std::uint16_t(TolvarenCommsCommon::baseRawValue + i), code)
            .get();
    }
    m_sleep(settings.initialSettleMs);
    for (unsigned i = first; i < CalibResults::numPoints; ++i) {
        values[i] = ReadRawAveraged(m_inputCard, i, m_allowedJitter);
        m_reporter.theoretical = expected(i);
        m_reporter.ReportValue(i, values[i]);
    }
    if (settings.perPointSettleMs == 0 && settings.sampleDurationMs == 0) {
        m_sleep(settings.initialSettleMs);
        for (unsigned i = first; i < CalibResults::numPoints; ++i)
            VerifyRawReading(VerifiedCard::Output, m_inputCard, i, values[i], m_allowedJitter);
    }
}

void OutputCardCalibrator::CalibrateOutputPath(int path, double realA, double realB)
{
    m_reporter.path = path;
    const unsigned first = path == CurrentPath ? firstCurrentOutput : 0;
    const double theoA = TheoreticalCodeForOutput(path, realA);
    const double theoB = TheoreticalCodeForOutput(path, realB);
    const CalibrationMapping mapping(path, m_inputCard);

    RawValues rawA{}, rawB{};
    m_reporter.refPoint = 0;
    GenerateAndMeasure(
        rawA, OutputCodeToWrite(theoA), [&](unsigned i) { return mapping.Map(i, realA); }, first);
    m_reporter.refPoint = 1;
    GenerateAndMeasure(
        rawB, OutputCodeToWrite(theoB), [&](unsigned i) { return mapping.Map(i, realB); }, first);

    RawValues measuredA{}, measuredB{};
    for (unsigned i = first; i < CalibResults::numPoints; ++i) {
        measuredA[i] = mapping.RealFromRaw(i, rawA[i]);
        measuredB[i] = mapping.RealFromRaw(i, rawB[i]);
    }
    FitOutputPath(m_results, path, first, theoA, theoB, measuredA, measuredB);

    m_reporter.Log(LineWithValue("Ref A real world val: \t", realA));
    m_reporter.Log(LineWithValue("Ref B real world val: \t", realB));
    m_reporter.Log(LineWithValue("Ref A theoretical raw val: \t", theoA));
    m_reporter.Log(LineWithValue("Ref B theoretical raw val: \t", theoB));
    std::string numbers = LabelCell("Input number:");
    for (unsigned i = first; i < CalibResults::numPoints; ++i)
        numbers += NumberCell(int(i + 1));
    m_reporter.Log(numbers);
    const auto intercepts = m_results.Intercepts(path);
    const auto gradients = m_results.Gradients(path);
    m_reporter.Log(ValueRow(
        "Ref A read value:", first, [&](unsigned i) { return measuredA[i]; }, 3));
    m_reporter.Log(ValueRow(
        "Ref A discrepancies:", first, [&](unsigned i) { return measuredA[i] - realA; }, 3));
    m_reporter.Log(ValueRow(
        "Ref B read value:", first, [&](unsigned i) { return measuredB[i]; }, 3));
    m_reporter.Log(ValueRow(
        "Ref B discrepancies:", first, [&](unsigned i) { return measuredB[i] - realB; }, 3));
    m_reporter.Log(ValueRow(
        "Fitted intercepts:", first, [&](unsigned i) { return double(intercepts[i]); }, 5));
    m_reporter.Log(ValueRow(
        "Fitted gradients:", first, [&](unsigned i) { return double(gradients[i]); }, 5));
}

void OutputCardCalibrator::StoreOutputCalibration()
{
    const CalibResults::PointValues blocks[] = {
        m_results.Intercepts(VoltagePath), m_results.Gradients(VoltagePath),
        m_results.Intercepts(CurrentPath), m_results.Gradients(CurrentPath)};
    m_outputCard.BeginCalibrationWrite().get();
    for (std::uint8_t block = 0; block < 4; ++block) {
        const ByteVec bytes = CalibrationBlockBytes(blocks[block].data(), CalibResults::numPoints);
        m_outputCard.WriteCalibrationBlock(block, bytes.data(), bytes.size()).get();
    }
    m_outputCard.EndCalibrationWrite().get();
}

void OutputCardCalibrator::RunProcedure(CalibRunContext& context, TolvarenCommsCommon& inputCard,
                                        TolvarenCommsCommon& outputCard,
                                        std::uint16_t registerMapVersion)
{
    const CalibrationRunInputs& inputs = context.inputs;
    const CalibParams& params = inputs.params;
    CalibReporter& reporter = context.reporter;
    WatchdogRestorer watchdog(outputCard, reporter);
    try {
        context.activity = "disabling Watchdog feature";
        const std::uint16_t delay =
            outputCard.ReadSingleRegister(true, TolvarenCommsCommon::regCommsDogBusOffDelay).get();
        // From here on the delay may have changed on the card, even if the write fails.
        watchdog.Saved(delay);
        outputCard.WriteSingleRegister(TolvarenCommsCommon::regCommsDogBusOffDelay, 0).get();

        if (registerMapVersion >= CalibSettings::firstVersionWithFineRaw)
            CalibSettings::Instance().SetTiming(1050, 0, 0, 1);

        OutputCardCalibrator calibrator(inputs.allowedJitterVR, reporter, inputCard, outputCard,
                                        context.sleep);
        context.activity = "doing voltage calibration";
        reporter.Log("Calibrating voltage generation...");
        calibrator.CalibrateOutputPath(VoltagePath, params.voltsA, params.voltsB);

        if (!reporter.AwaitJumpersForCurrent())
            UserCancelled();

        for (;;) {
            context.activity = "doing current calibration";
            reporter.Log("Calibrating current generation...");
            calibrator.SetAllowedJitter(inputs.allowedJitterI);
            try {
                calibrator.CalibrateOutputPath(CurrentPath, params.milliAmpsA, params.milliAmpsB);
                calibrator.SetAllowedJitter(inputs.allowedJitterVR);
                break;
            } catch (const std::exception& e) {
                calibrator.SetAllowedJitter(inputs.allowedJitterVR);
                if (!reporter.OutputCurrentCalibFailed(e.what()))
                    UserCancelled();
            }
        }

        context.activity = "storing calibration data to card";
        reporter.Log("Storing calibration data to card...");
        calibrator.StoreOutputCalibration();
        watchdog.Restore();
    } catch (...) {
        watchdog.RestoreAfterFailure();
        throw;
    }
}
