#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

TEST(TolvarenScalingProfileTest, UnitsFromProfileNames)
{
    struct Case
    {
        const char* name;
        const char* unit;
        const char* unitForCsv;
    } cases[] = {
        {"Voltage 0-10V <-> 0-100%", "%", "%"},
        {"Voltage in Volts", "V", "V"},
        {"Current in milliAmps", "mA", "mA"},
        {"Resistance in Ohms - HIGH", "Ohms", "Ohms"},
        {"10K Potentiometer (HIGH)", "%", "%"},
        {"Thermistor PT1000 RTD LOW",
         "\xC2\xB0"
         "C",
         "degrees C"},
        {"Pt100 => 0-100C using QRTWMA",
         "\xC2\xB0"
         "C",
         "degrees C"},
        {"PTC Staefa T1 using QRTZ",
         "\xC2\xB0"
         "C",
         "degrees C"},
        {"PTCStaefa", "", ""}, // "ptc" needs its trailing blank
        {"Digital", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnitFromProfileName(c.name, true), c.unit) << c.name;
        EXPECT_EQ(UnitFromProfileName(c.name, false), c.unitForCsv) << c.name;
    }
}

TEST(TolvarenScalingProfileTest, AllowedProfilesByPoint)
{
    struct Case
    {
        int cardType;
        IoDirection dir;
        unsigned index;
        const char* name;
        bool allowed;
    } cases[] = {
        {1, Input, 0, "Thermistor 1.8K LOW", true},
        {1, Input, 15, "Thermistor 1.8K LOW", true},
        {1, Output, 0, "Thermistor 1.8K LOW", false},
        {2, Output, 13, "Thermistor 1.8K LOW", false},
        {3, Output, 0, "Thermistor 1.8K LOW", false},
        {4, Output, 0, "Thermistor 1.8K LOW", false},
        {2, Output, 11, "Voltage in Volts", true},
        {2, Output, 11, "Current in milliAmps", false},
        {2, Output, 12, "Voltage in Volts", true},
        {2, Output, 12, "Current in milliAmps", true},
        {3, Output, 2, "Voltage in Volts", true},
        {3, Output, 3, "Voltage in Volts", false},
        {3, Output, 3, "Digital", true},
        {4, Output, 5, "Current 4-20mA <-> 0-100%", false},
        {4, Input, 5, "PTC Staefa T1 using QRTZ", true}, // any other input profile is voltage
        {1, Output, 0, "Pt100 => 0-100C using QRTWMA", false},
        {0, Input, 0, "Digital", false},
        {5, Input, 0, "Digital", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsScalingProfileAllowed(c.cardType, c.dir, c.index, c.name), c.allowed)
            << c.cardType << " " << c.dir << " " << c.index << " " << c.name;
    }
    for (int type = 1; type <= 4; ++type) {
        for (IoDirection dir : {Input, Output}) {
            for (unsigned i = 0; i < 24; ++i) {
                EXPECT_TRUE(IsScalingProfileAllowed(type, dir, i, "Digital"));
            }
        }
    }
}

TEST(TolvarenScalingProfileTest, CatalogueReads)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.GetScalingProfileName(0xFFFF).get(), "Digital");
    EXPECT_EQ(rig.card.RequestCount(), 0u);
    EXPECT_EQ(comms.GetScalingProfileName(7).get(), "Thermistor 10K3A1 HIGH");
    EXPECT_EQ(comms.GetScalingProfileCode(7).get(), "C26");
    EXPECT_EQ(comms.GetScalingProfileName(119).get(), "Resistance in Ohms - HIGH");
    EXPECT_EQ(comms.GetScalingProfileName(FakeCardProtocol::noProfileName).get(), "");
    EXPECT_EQ(rig.Count(4, 9607), 1u);
    EXPECT_EQ(rig.Count(4, 9807), 1u);
}

} // namespace
