#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "cardui/IoPointFormats.h"
#include "tests/support/CardUiRig.h"

namespace {

const unsigned digital = 0xFFFF;

struct ValueCase
{
    float value;
    unsigned profileId;
    const char* unit;
    const char* expected;
};

TEST(IoPointFormatsTest, ValueUsesDigitalWordsOnlyForExactLowAndHigh)
{
    const ValueCase cases[] = {
        {0.0f, digital, "", "0 (low)"}, {1.0f, digital, "", "1 (high)"},
        {0.999f, digital, "", "1.00 "}, // rounds to 1.00 but is not exactly high
        {0.5f, digital, "", "0.50 "},   {2.0f, digital, "", "2.00 "},
        {12.34f, 0, "%", "12.34 %"},    {0.0f, 0, "V", "0.00 V"}, // an analogue zero is a number
        {1.0f, 2, "mA", "1.00 mA"},     {-3.456f, 0, "V", "-3.46 V"},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(IoPointFormats::Value(c.value, c.profileId, c.unit), QString(c.expected))
            << c.value << " profile " << c.profileId;
    }
}

TEST(IoPointFormatsTest, PlainValueNeverUsesDigitalWords)
{
    EXPECT_EQ(IoPointFormats::PlainValue(1.0f, ""), "1.00 ");
    EXPECT_EQ(IoPointFormats::PlainValue(0.0f, ""), "0.00 ");
    EXPECT_EQ(IoPointFormats::PlainValue(-0.25f, "Ohms"), "-0.25 Ohms");
}

TEST(IoPointFormatsTest, HugeMagnitudesAreWrittenCompactlyAndNormalOnesKeepTwoDecimals)
{
    const float inf = std::numeric_limits<float>::infinity();
    const ValueCase cases[] = {
        {1e30f, 0, "V", "1e+30 V"},
        {-1e30f, 0, "V", "-1e+30 V"},
        {3.4e38f, digital, "", "3.4e+38 "},
        {1e9f, 0, "%", "1e+09 %"},
        {1234567890.0f, 2, "mA", "1.23457e+09 mA"},
        {999999936.0f, 0, "V", "999999936.00 V"}, // the largest float below 1e9
        {-12345.678f, 0, "V", "-12345.68 V"},
        {1e-30f, 0, "V", "0.00 V"}, // tiny values are no wider than any other
        {inf, 0, "V", "inf V"},
    };
    for (const ValueCase& c : cases) {
        EXPECT_EQ(IoPointFormats::Value(c.value, c.profileId, c.unit), QString(c.expected))
            << c.value;
        // Offsets and safe values are written the same way.
        EXPECT_EQ(IoPointFormats::PlainValue(c.value, c.unit), QString(c.expected)) << c.value;
    }
}

TEST(IoPointFormatsTest, DurationPadsEachPartToTwoDigits)
{
    EXPECT_EQ(IoPointFormats::Duration(0), "00 : 00 : 00");
    EXPECT_EQ(IoPointFormats::Duration(59), "00 : 00 : 59");
    EXPECT_EQ(IoPointFormats::Duration(3725), "01 : 02 : 05");
    EXPECT_EQ(IoPointFormats::Duration(360000), "100 : 00 : 00");
    EXPECT_EQ(IoPointFormats::Duration(0xFFFFFFFFu), "1193046 : 28 : 15");
}

TEST(IoPointFormatsTest, ValueReferenceByProfileAndDirection)
{
    std::map<int, TolvarenScalingProfile> allowed;
    allowed[2] = TolvarenScalingProfile("Current 4-20mA", "C");
    allowed[digital] = TolvarenScalingProfile("Digital", "");

    EXPECT_EQ(IoPointFormats::ValueReference(5, Tolvaren::Input, 3, digital, allowed), "A5.A3.A");
    EXPECT_EQ(IoPointFormats::ValueReference(5, Tolvaren::Output, 3, digital, allowed), "A5.C3.A");
    EXPECT_EQ(IoPointFormats::ValueReference(5, Tolvaren::Input, 3, 2, allowed), "A5.B10103.C");
    EXPECT_EQ(IoPointFormats::ValueReference(5, Tolvaren::Output, 3, 2, allowed), "A5.D10103.C");
    // 10000 + 50 x 119 + 23: the largest register number.
    allowed[119] = TolvarenScalingProfile("Voltage", "V9");
    EXPECT_EQ(IoPointFormats::ValueReference(255, Tolvaren::Input, 23, 119, allowed),
              "A255.B15973.V9");
    // A profile the point may not use has no reference.
    EXPECT_EQ(IoPointFormats::ValueReference(5, Tolvaren::Input, 3, 7, allowed), "");
}

TEST(IoPointFormatsTest, LimitReferencesMoveOutputsExceptOnTheOutputCard)
{
    // Output 0 of a card of type 4 at node 7, and of an Output Card.
    EXPECT_EQ(IoPointFormats::LowerLimitReference(7, 4, Tolvaren::Output, 0), "A7.D650.C");
    EXPECT_EQ(IoPointFormats::UpperLimitReference(7, 4, Tolvaren::Output, 0), "A7.D150.C");
    EXPECT_EQ(IoPointFormats::LowerLimitReference(7, 2, Tolvaren::Output, 0), "A7.D600.C");
    EXPECT_EQ(IoPointFormats::UpperLimitReference(7, 2, Tolvaren::Output, 0), "A7.D100.C");
    // Inputs are never moved; the index is added.
    EXPECT_EQ(IoPointFormats::LowerLimitReference(7, 4, Tolvaren::Input, 5), "A7.D605.C");
    EXPECT_EQ(IoPointFormats::UpperLimitReference(7, 1, Tolvaren::Input, 15), "A7.D115.C");
}

} // namespace
