#include <memory>
#include <mutex>
#include <cmath>

#include "calibration/CalibMaths.h"
#include "calibration/CalibrationMapping.h"
#include "comms/ExceptionWithString.h"
#include "modbus/ModbusErrors.h"
#include "simulator/CalibrationRig.h"
#include "tests/calibration/CalibTestSupport.h"

using namespace CalibMaths;

namespace {

// What the calibration board would connect: the same route on every input.
class BoardStandIn
{
public:
    void Route(std::uint8_t pathCode, std::uint8_t selection)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_route.pathCode = pathCode;
        m_route.selection = selection;
    }
    CalibBoardRoute operator()(unsigned) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_route;
    }

private:
    mutable std::mutex m_mutex;
    CalibBoardRoute m_route;
};

// The tool's link to one card of the rig.
struct CardLink
{
    explicit CardLink(FullCardSimulator& card) : datalink(&card), comms(datalink) {}
    ModbusMasterDatalink datalink;
    TolvarenCommsCommon comms;
};

// A rig with links to its cards; the links go before the rig.
class CalibrationOnRigTest : public CalibSettingsTest
{
protected:
    void MakeRig(CalibrationRig::Kind kind, std::uint16_t version, std::uint16_t revision)
    {
        output.reset();
        input.reset();
        CalibrationRig::Setup setup;
        setup.registerMapVersion = version;
        setup.hardwareRevision = revision;
        setup.seed = 7u + version + revision;
        rig.reset(new CalibrationRig(kind, setup, [this](unsigned i) { return board(i); }));
        rig->SetNoise(0.4);
        input.reset(new CardLink(rig->InputCard()));
        if (rig->OutputCard())
            output.reset(new CardLink(*rig->OutputCard()));
        // As a run starts: scales from the measuring card, quick sampling.
        settings.SetScalesFromCard(
            input->comms.GetRegisterVersion().get(),
            input->comms.ReadSingleRegister(false, TolvarenCommsCommon::regHardwareRevision).get());
        settings.SetTiming(0, 0, 0, 10);
    }

    RawValues MeasureAll(std::uint8_t pathCode, std::uint8_t selection, unsigned allowance = 1)
    {
        board.Route(pathCode, selection);
        RawValues raw;
        for (unsigned i = 0; i < 16; ++i)
            raw[i] = ReadRawAveraged(input->comms, i, allowance);
        return raw;
    }

    RawValues GenerateAndMeasure(std::uint16_t code, unsigned first, const CalibrationMapping& m)
    {
        for (unsigned i = first; i < 16; ++i)
            output->comms.WriteSingleRegister(std::uint16_t(65400 + i), code).get();
        RawValues real{};
        for (unsigned i = first; i < 16; ++i)
            real[i] = m.RealFromRaw(i, ReadRawAveraged(input->comms, i, 1));
        return real;
    }

    void FitInput(CalibResults& results, int path)
    {
        const auto refs = rig->BoardReferences();
        const std::uint8_t code =
            path == 0 ? CalibrationRig::voltagePath : CalibrationRig::currentPath;
        const RawValues rawA = MeasureAll(code, 1), rawB = MeasureAll(code, 2);
        FitInputPath(results, path, rawA, rawB, path == 0 ? refs.voltsA : refs.milliAmpsA,
                     path == 0 ? refs.voltsB : refs.milliAmpsB);
    }

    void Store(TolvarenCommsCommon& comms, const CalibResults& results)
    {
        comms.BeginCalibrationWrite().get();
        for (int path = 0; path < 2; ++path) {
            const auto intercepts = results.Intercepts(path), gradients = results.Gradients(path);
            const ByteVec i = CalibrationBlockBytes(intercepts.data(), 16);
            const ByteVec g = CalibrationBlockBytes(gradients.data(), 16);
            comms.WriteCalibrationBlock(std::uint8_t(2 * path), i.data(), i.size()).get();
            comms.WriteCalibrationBlock(std::uint8_t(2 * path + 1), g.data(), g.size()).get();
        }
        comms.EndCalibrationWrite().get();
    }

    BoardStandIn board;
    std::unique_ptr<CalibrationRig> rig;
    std::unique_ptr<CardLink> input;
    std::unique_ptr<CardLink> output;
};

TEST_F(CalibrationOnRigTest, InputFitRecoversEachInputsTrueGainAndOffset)
{
    // Fine raw scale and revised hardware; coarse raw scale and the first hardware.
    for (auto model : {std::make_pair(10, 3), std::make_pair(7, 1)}) {
        SCOPED_TRACE(model.first);
        MakeRig(CalibrationRig::Kind::InputCard, std::uint16_t(model.first),
                std::uint16_t(model.second));
        CalibResults results;
        FitInput(results, VoltagePath);
        FitInput(results, CurrentPath);
        for (int path : {0, 1}) {
            // Compared at the two references, where the line was measured.
            const double countsA = TheoreticalRawForInput(path, path == 0 ? 3.0 : 1.0);
            const double countsB = TheoreticalRawForInput(path, 9.0);
            for (unsigned i = 0; i < 16; ++i) {
                const CalibrationRig::Line truth = rig->TrueInputLine(path, i);
                // Noise of 0.4 counts and, on the coarse scale, half a count of rounding.
                const double tolerance = 1.0 * truth.gradient;
                for (double raw : {countsA, countsB}) {
                    const double fitted =
                        results.Intercepts(path)[i] + results.Gradients(path)[i] * raw;
                    EXPECT_NEAR(fitted, truth.intercept + truth.gradient * raw, tolerance)
                        << "path " << path << " input " << i + 1;
                }
            }
        }
    }
}

TEST_F(CalibrationOnRigTest, StoredBlocksReadBackAndChangeWhatTheInputCardReports)
{
    MakeRig(CalibrationRig::Kind::InputCard, 8, 3);
    TolvarenCommsCommon& comms = input->comms;
    EXPECT_EQ(comms.ReadSingleRegister(false, TolvarenCommsCommon::regCalibrated).get(), 0u);

    // A block written outside a store is refused, as is one of the wrong size.
    const ByteVec four(4, 0);
    auto outside = comms.WriteCalibrationBlock(4, four.data(), four.size());
    auto refused = FutureWait::ErrorAs<Modbus::Error>(outside);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->IsExceptionReply(4));
    comms.BeginCalibrationWrite().get();
    auto wrongSize = comms.WriteCalibrationBlock(0, four.data(), four.size());
    auto sizeError = FutureWait::ErrorAs<Modbus::Error>(wrongSize);
    ASSERT_TRUE(sizeError);
    EXPECT_TRUE(sizeError->IsExceptionReply(3));

    CalibResults results;
    FitInput(results, VoltagePath);
    FitInput(results, CurrentPath);
    Store(comms, results);
    const float rail = 9.9f, inductor = 4.6f;
    comms.BeginCalibrationWrite().get();
    comms.WriteCalibrationBlock(4, &rail, 4).get();
    comms.WriteCalibrationBlock(7, &inductor, 4).get();
    comms.EndCalibrationWrite().get();

    for (int path : {0, 1}) {
        const auto intercepts = results.Intercepts(path), gradients = results.Gradients(path);
        EXPECT_EQ(comms.ReadCalibrationBlock(std::uint8_t(2 * path)).get(),
                  std::vector<float>(intercepts.begin(), intercepts.end()));
        EXPECT_EQ(comms.ReadCalibrationBlock(std::uint8_t(2 * path + 1)).get(),
                  std::vector<float>(gradients.begin(), gradients.end()));
    }
    EXPECT_EQ(comms.ReadCalibrationBlock(4).get(), std::vector<float>{rail});
    EXPECT_EQ(comms.ReadCalibrationBlock(5).get(), std::vector<float>(16, 0.0f));
    EXPECT_EQ(comms.ReadCalibrationBlock(7).get(), std::vector<float>{inductor});
    EXPECT_EQ(comms.ReadSingleRegister(false, TolvarenCommsCommon::regCalibrated).get(), 1u);

    // The card now reports volts and milliamps through its stored lines.
    board.Route(CalibrationRig::voltagePath, 2);
    for (float value : comms.GetValues(Tolvaren::Input).get())
        EXPECT_NEAR(value, 9.0, 0.02);
    board.Route(CalibrationRig::currentPath, 1);
    for (float value : comms.GetValues(Tolvaren::Input).get())
        EXPECT_NEAR(value, 1.0, 0.03);
}

TEST_F(CalibrationOnRigTest, OutputFitThroughACalibratedInputCardRecoversTheOutputsLines)
{
    MakeRig(CalibrationRig::Kind::OutputCard, 10, 3);
    rig->CalibrateInputCardExactly();
    CalibResults results;
    struct Path
    {
        int path;
        double realA, realB, tolerance;
        unsigned first;
    };
    // Tolerances: 0.4 counts of noise through the measuring card's line.
    const Path paths[] = {{VoltagePath, 2.5, 9.0, 0.01, 0}, {CurrentPath, 4.0037, 9.0, 0.02, 12}};
    for (const Path& p : paths) {
        rig->SetJumpersForCurrent(p.path == CurrentPath);
        const CalibrationMapping mapping(p.path, input->comms);
        const double theoA = TheoreticalCodeForOutput(p.path, p.realA);
        const double theoB = TheoreticalCodeForOutput(p.path, p.realB);
        const RawValues measuredA = GenerateAndMeasure(OutputCodeToWrite(theoA), p.first, mapping);
        const RawValues measuredB = GenerateAndMeasure(OutputCodeToWrite(theoB), p.first, mapping);
        FitOutputPath(results, p.path, p.first, theoA, theoB, measuredA, measuredB);
        for (unsigned i = p.first; i < 16; ++i) {
            const CalibrationRig::Line truth = rig->TrueOutputLine(p.path, i);
            // The fit uses the untruncated codes, the card got the truncated ones: compare at
            // the codes written, where the line was measured.
            for (double code : {std::trunc(theoA), std::trunc(theoB)}) {
                EXPECT_NEAR(results.Intercepts(p.path)[i] + results.Gradients(p.path)[i] * code,
                            truth.intercept + truth.gradient * code, p.tolerance + truth.gradient)
                    << "path " << p.path << " output " << i + 1;
            }
        }
    }
    EXPECT_EQ(results.Gradients(CurrentPath)[11], 0.0f);

    // Stored into the Output Card, the line turns a value written in volts into that voltage.
    Store(output->comms, results);
    rig->SetJumpersForCurrent(false);
    for (unsigned i = 0; i < 16; ++i)
        output->comms.SetOutputValue(i, 5.0f).get();
    for (float value : input->comms.GetValues(Tolvaren::Input).get())
        EXPECT_NEAR(value, 5.0, 0.02);
}

} // namespace
