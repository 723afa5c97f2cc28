#include "graphs/PlotAxisMath.h"

#include "comms/ExceptionWithString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace PlotAxisMath;

struct StepCase
{
    double x;
    double expected;
};

TEST(PlotAxisMathTest, NiceStepIsTwoFiveOrTenTimesAPowerOfTenAboveX)
{
    const StepCase cases[] = {
        {0.37, 0.5}, {1.0, 2.0},    {49.0, 50.0},     {120.0, 200.0}, {0.05, 0.1},     {3.0, 5.0},
        {7.5, 10.0}, {12.25, 20.0}, {4900.0, 5000.0}, {0.1, 0.1},     {999.0, 1000.0}, {1e-4, 1e-4},
    };
    for (const StepCase& c : cases)
        EXPECT_DOUBLE_EQ(NiceStep(c.x), c.expected) << "x = " << c.x;
}

TEST(PlotAxisMathTest, NiceStepRefusesWhatHasNoLeadingDigit)
{
    const double bad[] = {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
    for (double x : bad) {
        try {
            NiceStep(x);
            ADD_FAILURE() << "no exception for " << x;
        } catch (const ExceptionWithString& e) {
            EXPECT_STREQ(e.what(), "most sig dig < 1 ?!");
        }
    }
}

struct PitchCase
{
    double span;
    bool timeAxis;
    double expected;
};

TEST(PlotAxisMathTest, XPitchUsesClockUnitsOnATimeAxis)
{
    const PitchCase cases[] = {
        {12.25, true, 15.0},            // 1 s per sample at 4 px per sample
        {12.25, false, 20.0},           // the same span on a plain axis
        {4900.0, true, 7200.0},         // 0.01 px per sample: 2 hours
        {0.4, true, 0.5},               // below a second: plain steps
        {1.0, true, 1.0},               // exactly a listed step
        {59.0, true, 60.0},             // last of the seconds
        {61.0, true, 300.0},            // 5 minutes
        {1800.0, true, 1800.0},         // 30 minutes
        {3601.0, true, 7200.0},         // just over an hour
        {50000.0, true, 86400.0},       // 24 hours
        {86400.0, true, 2.0 * 86400.0}, // days go by NiceStep
        {3.0 * 86400.0, true, 5.0 * 86400.0},
    };
    for (const PitchCase& c : cases) {
        EXPECT_DOUBLE_EQ(CalcXGridPitch(c.span, c.timeAxis), c.expected)
            << "span " << c.span << " time axis " << c.timeAxis;
    }
}

TEST(PlotAxisMathTest, TimePitchOfNaNIsImpossible)
{
    try {
        CalcNiceGridPitchForTime(std::numeric_limits<double>::quiet_NaN());
        FAIL() << "no exception";
    } catch (const ExceptionWithString& e) {
        EXPECT_STREQ(e.what(), "CalcNiceGridPitchForTime: impossible");
    }
}

TEST(PlotAxisMathTest, TimeLabels)
{
    // seconds, wrap at midnight, fraction digits, expected
    struct Case
    {
        double seconds;
        bool wrap;
        int digits;
        const char* expected;
    };
    const Case cases[] = {
        {0.0, true, 3, "00:00:00"},
        {3723.0, true, 3, "01:02:03"},
        {3723.25, true, 3, "01:02:03.250"},
        {3723.05, true, 2, "01:02:03.05"},
        {3723.25, true, 0, "01:02:03"},
        {59.9996, true, 3, "00:01:00"}, // rounding carries into the seconds
        {86400.0 + 7200.0, true, 0, "02:00:00"},
        {86400.0 + 7200.0, false, 0, "26:00:00"},
        {-1.0, true, 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimeOfDay(c.seconds, c.wrap, c.digits), QString::fromLatin1(c.expected))
            << c.seconds;
    }
    EXPECT_EQ(FormatXValue(1234567.0, false, false, 3), QStringLiteral("1.23457e+06"));
    EXPECT_EQ(FormatXValue(-2.5, false, false, 3), QStringLiteral("-2.5"));
}

} // namespace
