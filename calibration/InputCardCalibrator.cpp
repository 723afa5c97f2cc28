#include "calibration/InputCardCalibrator.h"

#include <memory>

#include "calibration/CalibBoard.h"
#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibLogTable.h"
#include "calibration/CalibReporter.h"
#include "calibration/CalibRunContext.h"
#include "calibration/CalibSettings.h"
#include "calibration/CalibrationRun.h"
#include "protocol/TolvarenCommsCommon.h"

using namespace CalibMaths;
using namespace CalibLogTable;

namespace {

// Every input open on the low-range resistance path: the rail through the pull-up.
const std::uint8_t railPathCode = 4;

std::string ValueRow(const std::string& label, const RawValues& values, double minus, int decimals)
{
    std::string row = LabelCell(label);
    for (unsigned i = 0; i < CalibResults::numPoints; ++i)
        row += ValueCell(values[i] - minus, decimals);
    return row;
}

std::string ValueRow(const std::string& label, const CalibResults::PointValues& values,
                     int decimals)
{
    std::string row = LabelCell(label);
    for (unsigned i = 0; i < CalibResults::numPoints; ++i)
        row += ValueCell(values[i], decimals);
    return row;
}

} // namespace

InputCardCalibrator::InputCardCalibrator(unsigned allowedJitter, CalibReporter& reporter,
                                         CalibBoard& board, TolvarenCommsCommon& card,
                                         std::function<void(int ms)> sleep)
    : m_allowedJitter(allowedJitter), m_reporter(reporter), m_board(board), m_card(card),
      m_sleep(std::move(sleep))
{
}

void InputCardCalibrator::MeasureAllInputs(RawValues& values, std::uint8_t pathCode,
                                           unsigned selection, bool reporting)
{
    const CalibSettings& settings = CalibSettings::Instance();
    m_board.SetConfig(0, pathCode, selection);
    m_sleep(settings.initialSettleMs);
    for (unsigned i = 0; i < CalibResults::numPoints; ++i) {
        m_board.SetConfig(i, pathCode, selection);
        m_sleep(settings.perPointSettleMs);
        values[i] = ReadRawAveraged(m_card, i, m_allowedJitter);
        if (reporting)
            m_reporter.ReportValue(i, values[i]);
    }
    if (settings.perPointSettleMs == 0 && settings.sampleDurationMs == 0) {
        // A single quick reading each: a second one after settling shows an input that had not
        // settled, or is noisy.
        m_sleep(settings.initialSettleMs);
        for (unsigned i = 0; i < CalibResults::numPoints; ++i) {
            m_board.SetConfig(i, pathCode, selection);
            VerifyRawReading(VerifiedCard::Input, m_card, i, values[i], m_allowedJitter);
        }
    }
}

void InputCardCalibrator::CalibrateInputPath(int path, unsigned selA, double realA, unsigned selB,
                                             double realB)
{
    m_reporter.path = path;
    const bool resistance = path == LowResistancePath || path == HighResistancePath;
    if (path == LowResistancePath) {
        m_reporter.Log("(Calibrating 10V/12V rail first...)");
        MeasureRailVoltage();
    }
    if (resistance) {
        realA = EffectiveReferenceOhms(realA);
        realB = EffectiveReferenceOhms(realB);
    }
    const double theoA = TheoreticalRawForInput(path, realA);
    const double theoB = TheoreticalRawForInput(path, realB);
    const std::uint8_t pathCode = CalibBoardCommands::PathCode(path);

    RawValues rawA{}, rawB{};
    m_reporter.refPoint = 0;
    m_reporter.theoretical = theoA;
    MeasureAllInputs(rawA, pathCode, selA, true);
    m_reporter.refPoint = 1;
    m_reporter.theoretical = theoB;
    MeasureAllInputs(rawB, pathCode, selB, true);

    if (resistance) {
        const PullUpEstimate pullUps =
            EstimatePullUps(m_results, path, m_railVoltage, rawA, rawB, realA, realB);
        LogTables(path, realA, realB, theoA, theoB, rawA, rawB, &pullUps);
    } else {
        FitInputPath(m_results, path, rawA, rawB, realA, realB);
        LogTables(path, realA, realB, theoA, theoB, rawA, rawB, nullptr);
    }
}

void InputCardCalibrator::LogTables(int path, double realA, double realB, double theoA,
                                    double theoB, const RawValues& rawA, const RawValues& rawB,
                                    const PullUpEstimate* pullUps)
{
    const std::string unit = pullUps ? " (ohms)" : "";
    m_reporter.Log(LineWithValue("Ref A real world val" + unit + ": \t", realA));
    m_reporter.Log(LineWithValue("Ref B real world val" + unit + ": \t", realB));
    m_reporter.Log(LineWithValue("Ref A theoretical raw val: \t", theoA));
    m_reporter.Log(LineWithValue("Ref B theoretical raw val: \t", theoB));

    std::string numbers = LabelCell("Input number:");
    for (unsigned i = 0; i < CalibResults::numPoints; ++i)
        numbers += NumberCell(int(i + 1));
    m_reporter.Log(numbers);
    m_reporter.Log(ValueRow("Ref A raw vals:", rawA, 0.0, 1));
    m_reporter.Log(ValueRow("Ref A discrepancies:", rawA, theoA, 1));
    m_reporter.Log(ValueRow("Ref B raw vals:", rawB, 0.0, 1));
    m_reporter.Log(ValueRow("Ref B discrepancies:", rawB, theoB, 1));
    if (pullUps) {
        m_reporter.Log(ValueRow("Pull-up ohms A:", pullUps->ohmsA, 0.0, 2));
        m_reporter.Log(ValueRow("Pull-up ohms B:", pullUps->ohmsB, 0.0, 2));
        m_reporter.Log(ValueRow("Pull-up ohms avg:", m_results.PullUpOhms(path), 2));
    } else {
        m_reporter.Log(ValueRow("Fitted intercepts:", m_results.Intercepts(path), 5));
        m_reporter.Log(ValueRow("Fitted gradients:", m_results.Gradients(path), 5));
    }
}

void InputCardCalibrator::MeasureRailVoltage()
{
    RawValues open{};
    MeasureAllInputs(open, railPathCode, CalibBoardCommands::SelectNone, false);
    m_railVoltage = CalibMaths::RailVoltage(m_results, open);
    m_reporter.Log(LineWithValue("10v measured voltage: ", m_railVoltage));
}

void InputCardCalibrator::StoreInputCalibration(double inductorResistance)
{
    const float inductor = static_cast<float>(inductorResistance);
    const CalibResults::PointValues blocks[] = {
        m_results.Intercepts(VoltagePath),
        m_results.Gradients(VoltagePath),
        m_results.Intercepts(CurrentPath),
        m_results.Gradients(CurrentPath),
        {},
        m_results.PullUpOhms(LowResistancePath),
        m_results.PullUpOhms(HighResistancePath),
    };
    auto write = [this](std::uint8_t block, const float* values, std::size_t count) {
        const ByteVec bytes = CalibrationBlockBytes(values, count);
        m_card.WriteCalibrationBlock(block, bytes.data(), bytes.size()).get();
    };
    m_card.BeginCalibrationWrite().get();
    for (std::uint8_t block = 0; block < 4; ++block)
        write(block, blocks[block].data(), CalibResults::numPoints);
    write(4, &m_railVoltage, 1);
    write(5, blocks[5].data(), CalibResults::numPoints);
    write(6, blocks[6].data(), CalibResults::numPoints);
    write(7, &inductor, 1);
    m_card.EndCalibrationWrite().get();
}

void InputCardCalibrator::RunProcedure(CalibRunContext& context, TolvarenCommsCommon& card,
                                       std::uint16_t registerMapVersion)
{
    const CalibrationRunInputs& inputs = context.inputs;
    const CalibParams& params = inputs.params;
    CalibReporter& reporter = context.reporter;
    CalibSettings& settings = CalibSettings::Instance();
    const bool fineTiming = registerMapVersion >= CalibSettings::firstVersionWithFineRaw;

    context.activity = "checking comms with calibration-board";
    // Open for the whole procedure; closed when it ends, whatever the outcome.
    std::unique_ptr<CalibBoard> board(new CalibBoard(inputs.boardPort));
    board->Link().Transact(CalibBoardCommands::Ping);

    InputCardCalibrator calibrator(inputs.allowedJitterVR, reporter, *board, card, context.sleep);

    context.activity = "doing voltage calibration";
    reporter.Log("Calibrating voltage measurement...");
    if (fineTiming)
        settings.SetTiming(1050, 0, 0, 0);
    calibrator.CalibrateInputPath(VoltagePath, CalibBoardCommands::SelectReferenceA, params.voltsA,
                                  CalibBoardCommands::SelectReferenceB, params.voltsB);
    if (fineTiming)
        settings.SetTiming(50, 1050, 0, 1);

    context.activity = "doing current calibration";
    reporter.Log("Calibrating current measurement...");
    calibrator.SetAllowedJitter(inputs.allowedJitterI);
    calibrator.CalibrateInputPath(CurrentPath, CalibBoardCommands::SelectReferenceA,
                                  params.milliAmpsA, CalibBoardCommands::SelectReferenceB,
                                  params.milliAmpsB);
    calibrator.SetAllowedJitter(inputs.allowedJitterVR);

    context.activity = "doing lower resistance calibration";
    reporter.Log("Calibrating lower-resistance measurement...");
    calibrator.CalibrateInputPath(LowResistancePath, CalibBoardCommands::LowerOhmsA,
                                  params.lowerOhmsA, CalibBoardCommands::LowerOhmsB,
                                  params.lowerOhmsB);

    context.activity = "doing upper resistance calibration";
    reporter.Log("Calibrating upper-resistance measurement...");
    calibrator.CalibrateInputPath(HighResistancePath, CalibBoardCommands::UpperOhmsA,
                                  params.upperOhmsA, CalibBoardCommands::UpperOhmsB,
                                  params.upperOhmsB);

    context.activity = "storing calibration data to card";
    reporter.Log("Storing calibration data to card...");
    calibrator.StoreInputCalibration(params.inductorResistance);
    board.reset();
}
