#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/CardParamsAccessor.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"

namespace {

// The full simulated card's control modules as the tool reads and writes them.
class CardControlModulesTest : public ::testing::Test
{
protected:
    CardControlModulesTest() { DEDOCardSimulator::ResetSharedStores(); }

    CardParamsVec Module(char letter)
    {
        CardParamsVec module;
        for (const CardParameter& p : all)
            if (p.name.size() > 2 && p.name[0] == letter && p.name[1] == '_')
                module.push_back(p);
        return module;
    }

    // At time 0 the measured values are at their starting values.
    std::atomic<std::uint64_t> nowMs{0};
    FullCardSimulator card{[this] { return nowMs.load(); }};
    ModbusMasterDatalink datalink{&card};
    TolvarenCommsCommon comms{datalink};
    CardParamsVec all = comms.GetParameterDefinitions().get();
};

TEST_F(CardControlModulesTest, ModulesListEveryKindOfParameterAndShowTheirValues)
{
    EXPECT_EQ(comms.ReadNamedVariableAsFloat("~NumControlModules").get(), 3.0f);
    ASSERT_EQ(all.size(), 13u + 40u + 1u);
    ASSERT_EQ(Module('B').size(), 40u);
    ASSERT_EQ(Module('C').size(), 1u);

    const CardParamsVec a = Module('A');
    ASSERT_EQ(a.size(), 13u);
    EXPECT_EQ(a[1].name, "A_ModuleName");
    // Enumerations come two labels a reply; all of them arrive, in card order.
    EXPECT_EQ(a[2].enumValues, (std::vector<CardParameter::EnumValue>{
                                   {"Off", 0}, {"Auto", 1}, {"Manual", 2}}));
    std::vector<std::uint16_t> kinds;
    for (const CardParameter& p : a)
        kinds.push_back(p.Storage());
    for (std::uint16_t kind : {0x0000, 0x1000, 0x2000, 0x3000, 0x4000})
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << kind;

    CardParamsAccessor accessor(a, datalink);
    EXPECT_EQ(accessor.ReadAllValues().get(),
              (std::vector<std::string>{"65.5", "Boiler house", "Auto", "On", "Yes", "61.2",
                                        "-3.5", "12.5", "42", "Comfort", "4500", "1.50", "0"}));
    CardParamsAccessor c(Module('C'), datalink);
    EXPECT_EQ(c.ReadAllValues().get(), std::vector<std::string>{"1200"});

    // The measured values move with time; the valves stay within 0 to 100 %.
    nowMs = 5000;
    const std::vector<std::string> later = accessor.ReadAllValues().get();
    EXPECT_NE(later[5], "61.2");
    EXPECT_NE(later[6], "-3.5");
    CardParamsAccessor b(Module('B'), datalink);
    for (std::uint64_t t : {0u, 4000u, 9000u, 15000u}) {
        nowMs = t;
        const std::vector<std::string> zones = b.ReadAllValues().get();
        for (std::size_t i = 1; i < 32; i += 2) {
            const int valve = std::stoi(zones[i]);
            EXPECT_TRUE(valve >= 0 && valve <= 100) << valve;
        }
    }
}

TEST_F(CardControlModulesTest, WritesOfEveryWritableKindAreKept)
{
    CardParamsAccessor a(Module('A'), datalink);
    const std::vector<std::pair<unsigned, std::string>> writes = {
        {0, "70.24"},      {1, "Plant room"}, {2, "Manual"}, {3, "Off"},
        {7, "15"},         {9, "Boost"},      {11, "-0.5"},
    };
    for (const auto& write : writes)
        a.SetValue(write.first, write.second).get();
    EXPECT_EQ(a.ReadAllValues().get(),
              (std::vector<std::string>{"70.2", "Plant room", "Manual", "Off", "Yes", "61.2",
                                        "-3.5", "15.0", "42", "Boost", "4500", "-0.50", "0"}));

    CardParamsAccessor c(Module('C'), datalink);
    c.SetValue(0, "1500").get();
    EXPECT_EQ(c.ReadAllValues().get(), std::vector<std::string>{"1500"});
}

TEST_F(CardControlModulesTest, TheCardRefusesValuesItCannotHold)
{
    CardParamsAccessor a(Module('A'), datalink);
    // A name longer than the card keeps, and a number written as text that is none.
    auto longName = a.SetValue(1, std::string(41, 'x'));
    try {
        longName.get();
        ADD_FAILURE() << "a 41-character name was taken";
    } catch (const Modbus::Error& e) {
        EXPECT_TRUE(e.IsExceptionReply(3)) << e.what();
    }
    EXPECT_THROW(a.SetValue(7, "12,5").get(), Modbus::Error);
    EXPECT_EQ(a.ReadValueText(a.Params()[1]), "Boiler house");
    EXPECT_EQ(a.ReadValueText(a.Params()[7]), "12.5");
}

TEST_F(CardControlModulesTest, BuildDateIsAnswered)
{
    EXPECT_EQ(comms.GetSoftwareBuildDate().get(), "Nov 30 2026 14:05:12");
}

} // namespace
