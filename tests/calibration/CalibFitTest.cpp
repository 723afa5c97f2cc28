#include <cmath>

#include "calibration/CalibMaths.h"
#include "comms/ExceptionWithString.h"
#include "tests/calibration/CalibTestSupport.h"

using namespace CalibMaths;

namespace {

typedef CalibSettingsTest CalibFitTest;

RawValues Filled(double value)
{
    RawValues values;
    values.fill(value);
    return values;
}

TEST_F(CalibFitTest, ScalesFollowTheReferenceCardBothWays)
{
    struct Case
    {
        std::uint16_t version, revision;
        double rawScale, perVolt, perMilliAmp;
    };
    const Case cases[] = {
        {8, 3, 1.0 / 64.0, 85.25, 49.2125},
        {7, 2, 1.0, 100.0, 50.0}, // an older card after a newer one gets the defaults back
        {10, 1, 1.0 / 64.0, 100.0, 50.0},
        {7, 4, 1.0, 85.25, 49.2125},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version * 100 + c.revision);
        settings.SetScalesFromCard(c.version, c.revision);
        EXPECT_EQ(settings.rawScale, c.rawScale);
        EXPECT_FLOAT_EQ(settings.countsPerVolt, float(c.perVolt));
        EXPECT_FLOAT_EQ(settings.countsPerMilliAmp, float(c.perMilliAmp));
        EXPECT_DOUBLE_EQ(TheoreticalRawForInput(VoltagePath, 2.0), 2.0 * double(float(c.perVolt)));
        EXPECT_DOUBLE_EQ(TheoreticalRawForInput(CurrentPath, 2.0),
                         2.0 * double(float(c.perMilliAmp)));
    }
}

TEST_F(CalibFitTest, TheoreticalValuesAndOutputCodes)
{
    EXPECT_DOUBLE_EQ(TheoreticalRawForInput(LowResistancePath, 820.0), 500.0);
    EXPECT_DOUBLE_EQ(TheoreticalRawForInput(HighResistancePath, 30000.0), 750.0);
    EXPECT_THROW_TEXT(TheoreticalRawForInput(4, 1.0), ExceptionWithString, "Invalid path value");
    EXPECT_THROW_TEXT(TheoreticalCodeForOutput(-1, 1.0), ExceptionWithString, "Invalid path value");

    EXPECT_DOUBLE_EQ(TheoreticalCodeForOutput(VoltagePath, 2.5), 1000.0);
    const double current = TheoreticalCodeForOutput(CurrentPath, 4.0037);
    EXPECT_NEAR(current, 800.74, 1e-9);
    struct Case
    {
        double code;
        std::uint16_t written;
    };
    const Case cases[] = {{current, 800}, {-1.5, 0xFFFF}, {70000.9, 4464}, {65535.99, 65535}};
    for (const Case& c : cases)
        EXPECT_EQ(OutputCodeToWrite(c.code), c.written) << c.code;
    EXPECT_THROW(OutputCodeToWrite(1e300), ExceptionWithString);
}

TEST_F(CalibFitTest, StraightLineThroughTwoPoints)
{
    const StraightLine line = CalcStraightLineParams(300.0, 3.0, 900.0, 9.0);
    EXPECT_DOUBLE_EQ(line.gradient, 0.01);
    EXPECT_DOUBLE_EQ(line.intercept, 0.0);
    const StraightLine offset = CalcStraightLineParams(100.0, 1.0, 300.0, 2.0);
    EXPECT_DOUBLE_EQ(offset.gradient, 0.005);
    EXPECT_DOUBLE_EQ(offset.intercept, 0.5);

    EXPECT_THROW_TEXT(CalcStraightLineParams(1000.0, 3.0, 1000.0 + 5e-7, 9.0), ExceptionWithString,
                      "CalcStraightLineParams: gradient is too near vertical");
    EXPECT_NO_THROW(CalcStraightLineParams(1000.0, 3.0, 1000.0 + 2e-6, 9.0));
}

// Points chosen so that gradient and intercept land exactly on (or just past) a limit.
struct FitCase
{
    double xA, xB, yA, yB;
    const char* failure; // nullptr: passes
};

TEST_F(CalibFitTest, InputFitLimitsAreInclusive)
{
    const FitCase cases[] = {
        {300.0, 1500.0, 3.0, 9.0, nullptr},    // gradient 0.005
        {300.0, 500.0, 3.0, 9.0, nullptr},     // gradient 0.03
        {-3700.0, -3100.0, 3.0, 9.0, nullptr}, // intercept 40
        {4300.0, 4900.0, 3.0, 9.0, nullptr},   // intercept -40
        {300.0, 1501.0, 3.0, 9.0,
         "the gradient of the fitted straight line is too far off for input 1: "
         "0.0049958368026644462"},
        {300.0, 400.0, 3.0, 9.0,
         "the gradient of the fitted straight line is too far off for input 1: "
         "0.059999999999999998"},
        {-3750.0, -3150.0, 3.0, 9.0,
         "the intercept of the fitted straight line is too far off for input 1: 40.5"},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.xA);
        CalibResults results;
        if (c.failure) {
            EXPECT_THROW_TEXT(
                FitInputPath(results, VoltagePath, Filled(c.xA), Filled(c.xB), c.yA, c.yB),
                ExceptionWithString, c.failure);
        } else {
            FitInputPath(results, VoltagePath, Filled(c.xA), Filled(c.xB), c.yA, c.yB);
            const StraightLine line = CalcStraightLineParams(c.xA, c.yA, c.xB, c.yB);
            EXPECT_EQ(results.Gradients(VoltagePath)[15], float(line.gradient));
            EXPECT_EQ(results.Intercepts(VoltagePath)[15], float(line.intercept));
        }
    }
}

TEST_F(CalibFitTest, OutputFitLimitsAreInclusiveAndOnlyFromTheFirstOutput)
{
    const FitCase cases[] = {
        {1000.0, 2000.0, 1.0, 2.0, nullptr},    // gradient 0.001
        {1000.0, 2000.0, 1.0, 9.0, nullptr},    // gradient 0.008
        {0.0, 1000.0, 200.0, 205.0, nullptr},   // intercept 200
        {0.0, 1000.0, -200.0, -195.0, nullptr}, // intercept -200
        {1000.0, 2000.0, 1.0, 9.5,
         "the gradient of the fitted straight line is too far off for output 13: "
         "0.0085000000000000006"},
        {0.0, 1000.0, -200.5, -195.5,
         "the intercept of the fitted straight line is too far off for output 13: -200.5"},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.yA);
        CalibResults results;
        if (c.failure) {
            EXPECT_THROW_TEXT(
                FitOutputPath(results, CurrentPath, 12, c.xA, c.xB, Filled(c.yA), Filled(c.yB)),
                ExceptionWithString, c.failure);
        } else {
            FitOutputPath(results, CurrentPath, 12, c.xA, c.xB, Filled(c.yA), Filled(c.yB));
            EXPECT_EQ(results.Gradients(CurrentPath)[0], 0.0f);
            EXPECT_NE(results.Gradients(CurrentPath)[12], 0.0f);
        }
    }
}

TEST_F(CalibFitTest, FirstFailingInputEndsTheFit)
{
    RawValues rawA = Filled(300.0), rawB = Filled(900.0);
    rawB[4] = 1600.0; // gradient 0.0046
    rawB[8] = 310.0;  // far worse, but later
    CalibResults results;
    EXPECT_THROW_TEXT(FitInputPath(results, CurrentPath, rawA, rawB, 3.0, 9.0), ExceptionWithString,
                      "the gradient of the fitted straight line is too far off for input 5: "
                      "0.0046153846153846158");
    EXPECT_EQ(results.Gradients(CurrentPath)[3], 0.01f);
    EXPECT_EQ(results.Gradients(CurrentPath)[4], 0.0f);
    // A path never written reads as zeros.
    EXPECT_EQ(results.Gradients(VoltagePath), CalibResults::PointValues{});
    EXPECT_EQ(results.PullUpOhms(LowResistancePath), CalibResults::PointValues{});
}

TEST_F(CalibFitTest, ResistanceModelRecoversRailAndPullUps)
{
    EXPECT_DOUBLE_EQ(EffectiveReferenceOhms(1000.0), 1000.0 * 313657.0 / 314657.0);

    CalibResults results;
    EXPECT_THROW_TEXT(RailVoltage(results, Filled(990.0)), ExceptionWithString,
                      "no voltage cal data so can't do resistance cal");

    // Voltage line 0.01 V per count, 0.1 V offset.
    FitInputPath(results, VoltagePath, Filled(290.0), Filled(890.0), 3.0, 9.0);
    const double rail = 10.0;
    // The open-circuit reading sits across 820 ohm and the input resistance.
    const double open = rail * 313657.0 / (313657.0 + 820.0);
    const float measuredRail = RailVoltage(results, Filled((open - 0.1) / 0.01));
    EXPECT_NEAR(measuredRail, rail, 1e-5);

    const double rA = EffectiveReferenceOhms(100.0), rB = EffectiveReferenceOhms(1000.0);
    RawValues rawA, rawB;
    for (unsigned i = 0; i < 16; ++i) {
        const double pullUp = 800.0 + 2.0 * i;
        rawA[i] = (rail * rA / (rA + pullUp) - 0.1) / 0.01;
        rawB[i] = (rail * rB / (rB + pullUp) - 0.1) / 0.01;
    }
    const PullUpEstimate estimate =
        EstimatePullUps(results, LowResistancePath, measuredRail, rawA, rawB, rA, rB);
    for (unsigned i = 0; i < 16; ++i) {
        EXPECT_NEAR(results.PullUpOhms(LowResistancePath)[i], 800.0 + 2.0 * i, 0.01) << i;
        EXPECT_NEAR(estimate.ohmsA[i], 800.0 + 2.0 * i, 0.01) << i;
    }

    // A path that reads no voltage would store an infinite or negative pull-up.
    rawA[6] = -20.0;
    EXPECT_THROW_TEXT(
        EstimatePullUps(results, HighResistancePath, measuredRail, rawA, rawB, rA, rB),
        ExceptionWithString,
        "the pull-up resistance cannot be computed for input 7: its measured voltage is not "
        "above 0 V");
}

TEST_F(CalibFitTest, BlockBytesAreLittleEndianBinary32)
{
    const float values[2] = {1.0f, -2.5f};
    EXPECT_EQ(CalibrationBlockBytes(values, 2),
              (ByteVec{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x20, 0xC0}));
}

} // namespace
