#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/FullCardSimulator.h"

using namespace Tolvaren;

namespace {

const std::int64_t wavePeriodMs = 10000;
const std::int64_t storeIntervalMs = 900000;

// The full card on its own clock behind a datalink, as the tool reaches it. The datalink goes
// before the card.
class FullCardSimulatorTest : public ::testing::Test
{
protected:
    FullCardSimulatorTest() { DEDOCardSimulator::ResetSharedStores(); }

    void Advance(std::int64_t ms) { nowMs += ms; }

    std::atomic<std::int64_t> nowMs{123456789};
    FullCardSimulator card{[this] { return static_cast<std::uint64_t>(nowMs.load()); }};
    ModbusMasterDatalink datalink{&card};
    TolvarenCommsCommon comms{datalink};
};

TEST_F(FullCardSimulatorTest, FullGatheringShowsEveryFeatureAndValuesMove)
{
    TolvarenSnapshotGatherer gatherer(datalink);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot first = gatherer.Snapshot();
    EXPECT_TRUE(first.fullGathering);
    EXPECT_EQ(first.cardType, 4);
    EXPECT_EQ(first.registerVersion, 10);
    EXPECT_EQ(first.firmwareVersion, "2.10"); // not 1.234: the 8-day graph is offered
    EXPECT_EQ(first.numInputs, 24u);
    EXPECT_EQ(first.numOutputs, 24u);
    EXPECT_EQ(first.inputLabels[0], "Input 1");
    EXPECT_EQ(first.outputLabels[23], "Output 24");
    EXPECT_EQ(first.inputPartNumbers[0], "KT-IN-01");
    EXPECT_EQ(first.outputPartNumbers[1], "");
    EXPECT_EQ(first.inputDates[2], Date(3, 3, 2024));
    EXPECT_TRUE(first.notesSupported);
    EXPECT_FLOAT_EQ(first.inputOffsets[6], 0.25f);
    EXPECT_EQ(first.inputProfileIds[8], 0xFFFF);
    EXPECT_EQ(first.inputUpperLimits[4], 500);
    ASSERT_TRUE(first.scalingProfiles);
    EXPECT_EQ(first.scalingProfiles->at(43).name, "Thermistor 10K4A1 HIGH");
    EXPECT_TRUE(first.trafficLogSupported);
    EXPECT_EQ(first.numControlModules, 3);
    EXPECT_TRUE(first.healthy);
    EXPECT_TRUE(first.calibrated);
    EXPECT_TRUE(first.resetOccurred);
    ASSERT_EQ(first.profiledSafeValues.size(), 24u);
    EXPECT_FLOAT_EQ(first.profiledSafeValues[0], 25.0f);
    EXPECT_EQ(first.softDogMinutes, 5);
    // Output 3 runs under override and shows its override value.
    EXPECT_TRUE(first.overrideActive[3]);
    EXPECT_FLOAT_EQ(first.outputValues[3], 75.0f);
    for (float digitalValue : {first.inputValues[8], first.outputValues[17]})
        EXPECT_TRUE(digitalValue == 0.0f || digitalValue == 1.0f) << digitalValue;

    // A quarter wave later every analogue input and its raw value have moved; outputs have not.
    Advance(wavePeriodMs / 4);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot later = gatherer.Snapshot();
    EXPECT_FALSE(later.fullGathering);
    for (unsigned i = 0; i < 24; ++i) {
        if (first.inputProfileIds[i] != 0xFFFF) {
            EXPECT_NE(later.inputValues[i], first.inputValues[i]) << i;
        }
        EXPECT_NE(later.inputRawValues[i], first.inputRawValues[i]) << i;
    }
    EXPECT_EQ(later.outputValues, first.outputValues);
    EXPECT_EQ(later.outputRawValues, first.outputRawValues);

    // Over one whole wave the digital reading of every input is high for half of it and goes
    // high once.
    Advance(wavePeriodMs);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& wave = gatherer.Snapshot();
    for (unsigned i = 0; i < 24; ++i) {
        EXPECT_EQ(wave.longTermHighTime[i] - later.longTermHighTime[i], 5u) << i;
        EXPECT_EQ(wave.longTermLowTime[i] - later.longTermLowTime[i], 5u) << i;
        EXPECT_EQ(wave.longTermPulseCount[i] - later.longTermPulseCount[i], 1u) << i;
    }
}

TEST_F(FullCardSimulatorTest, InputEditsReadBackAsACardWould)
{
    comms.SetLabel(Input, 2, "Flow north").get();
    EXPECT_EQ(comms.GetLabel(Input, 2).get(), "Flow north");
    comms.SetPartNumber(Input, 2, "FT-2000-XL").get();
    EXPECT_EQ(comms.GetPartNumber(Input, 2).get(), "FT-2000-XL");
    comms.SetCalibrationDate(Input, 2, Date(2, 5, 2025)).get();
    EXPECT_EQ(comms.GetCalibrationDate(Input, 2).get(), Date(2, 5, 2025));
    comms.SetLowerLimit(Input, 2, -40).get();
    comms.SetUpperLimit(Input, 2, 3000).get();
    EXPECT_EQ(comms.GetLowerLimits(Input).get()[2], -40);
    EXPECT_EQ(comms.GetUpperLimits(Input).get()[2], 3000);

    // The card adds an input's offset to its value (same moment: the clock stands still).
    const float before = comms.GetValues(Input).get()[3];
    comms.SetOffset(Input, 3, 1.5f).get();
    EXPECT_FLOAT_EQ(comms.GetOffsets(Input).get()[3], 1.5f);
    EXPECT_FLOAT_EQ(comms.GetValues(Input).get()[3], before + 1.5f);

    comms.SetScalingProfile(Input, 0, 0xFFFF).get();
    EXPECT_EQ(comms.GetScalingProfileIds(Input).get()[0], 0xFFFF);
    const float digitalValue = comms.GetValues(Input).get()[0];
    EXPECT_TRUE(digitalValue == 0.0f || digitalValue == 1.0f) << digitalValue;

    // Reset statistics start from zero and count on.
    comms.ResetLongTermStats(1).get();
    EXPECT_EQ(comms.GetLongTermHighTimes().get()[1], 0u);
    EXPECT_EQ(comms.GetLongTermLowTimes().get()[1], 0u);
    EXPECT_EQ(comms.GetLongTermPulseCounts().get()[1], 0u);
    EXPECT_NE(comms.GetLongTermPulseCounts().get()[0], 0u);
    Advance(2 * wavePeriodMs);
    EXPECT_EQ(comms.GetLongTermHighTimes().get()[1], 10u);
    EXPECT_EQ(comms.GetLongTermLowTimes().get()[1], 10u);
    EXPECT_EQ(comms.GetLongTermPulseCounts().get()[1], 2u);

    comms.SetIoNote(Input, 5, "checked").get();
    EXPECT_EQ(comms.GetIoNote(Input, 5).get(), "checked");
    comms.SetIoNote(Input, 5, "").get();
    EXPECT_EQ(comms.GetIoNote(Input, 5).get(), "");
}

TEST_F(FullCardSimulatorTest, OutputEditsReadBackAsACardWould)
{
    comms.SetLabel(Output, 5, "Valve 5").get();
    EXPECT_EQ(comms.GetLabel(Output, 5).get(), "Valve 5");
    comms.SetOffset(Output, 3, -2.0f).get();
    EXPECT_FLOAT_EQ(comms.GetOffsets(Output).get()[3], -2.0f);
    comms.SetLowerLimit(Output, 9, -20).get();
    EXPECT_EQ(comms.GetLowerLimits(Output).get()[9], -20);

    // Output 4 reads 0-100 % on 0-10 V: its value and its raw register move together.
    comms.SetOutputValue(4, 50.0f).get();
    EXPECT_FLOAT_EQ(comms.GetValues(Output).get()[4], 50.0f);
    EXPECT_EQ(comms.GetRawValues(Output).get()[4], 32768);
    {
        auto lock = comms.LockMaster();
        auto write = comms.master.WriteRegisterUInt16(65400 + 4, 65535);
        lock.unlock();
        write.get();
    }
    EXPECT_FLOAT_EQ(comms.GetValues(Output).get()[4], 100.0f);
    EXPECT_EQ(comms.GetRawValues(Output).get()[4], 65535);

    // An override drives the output while it is on; the written value comes back after.
    comms.SetOverrideValue(4, 12.5f).get();
    comms.SetOverrideActive(4, true).get();
    EXPECT_TRUE(comms.GetOverrideActiveFlags().get()[4]);
    EXPECT_FLOAT_EQ(comms.GetOverrideValues().get()[4], 12.5f);
    EXPECT_FLOAT_EQ(comms.GetValues(Output).get()[4], 12.5f);
    EXPECT_EQ(comms.GetRawValues(Output).get()[4], 8192);
    comms.SetOverrideActive(4, false).get();
    EXPECT_FLOAT_EQ(comms.GetValues(Output).get()[4], 100.0f);

    // Two output values written in one request set both outputs.
    {
        ByteVec two;
        for (float v : {60.0f, 70.0f}) {
            std::uint32_t bits;
            std::memcpy(&bits, &v, 4);
            for (int shift : {24, 16, 8, 0})
                two.push_back(static_cast<unsigned char>(bits >> shift));
        }
        auto lock = comms.LockMaster();
        auto write = comms.master.WriteRegistersAsData(9000 + 6, two);
        lock.unlock();
        write.get();
    }
    const std::vector<float> values = comms.GetValues(Output).get();
    EXPECT_FLOAT_EQ(values[6], 60.0f);
    EXPECT_FLOAT_EQ(values[7], 70.0f);
    EXPECT_EQ(comms.GetRawValues(Output).get()[7], 45875); // 70 % of 0-10 V

    // A digital output drives 0 or 10 V.
    comms.SetOutputValue(20, 1.0f).get();
    EXPECT_EQ(comms.GetRawValues(Output).get()[20], 65535);
    comms.SetCalibrationDate(Output, 1, Date(31, 12, 2024)).get();
    EXPECT_EQ(comms.GetCalibrationDate(Output, 1).get(), Date(31, 12, 2024));
    comms.SetIoNote(Output, 2, "spare").get();
    EXPECT_EQ(comms.GetIoNote(Output, 2).get(), "spare");

    comms.SetCommsDogBusOffDelay(30).get();
    EXPECT_EQ(comms.ReadSingleRegister(true, 590).get(), 30);
    comms.ClearResetOccurred().get();
    EXPECT_FALSE(comms.ReadSingleBit(true, 912).get());
}

TEST_F(FullCardSimulatorTest, NamedVariablesReadAndWritten)
{
    comms.SetSafeValue(2, 7.5f).get();
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("ProfiledSafeVal[2]").get(), 7.5f);
    EXPECT_FLOAT_EQ(comms.ReadNamedVariable("ProfiledSafeVals").get().AsFloatArray()[2], 7.5f);
    comms.SetSoftDogMinutes(12.0f).get();
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("OutputsToSafeMinutes").get(), 12.0f);

    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("LiveDataSampleIntervalMsecs").get(), 50.0f);
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("HistoricalDataSampleIntervalMsecs").get(),
                    900000.0f);
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("HistoricalDataMsecsSinceLastStore").get(),
                    float(nowMs % storeIntervalMs));
    EXPECT_EQ(comms.ReadNamedVariable("SecondsSinceReset").get().AsUInt32(), nowMs / 1000);

    struct Refused
    {
        const char* name;
        CPackedVal value;
        unsigned char exceptionCode;
    };
    const Refused refused[] = {
        {"ProfiledSafeVal[24]", CPackedVal::FromFloat(1.0f), 2}, // no such output
        {"ProfiledSafeVal", CPackedVal::FromFloat(1.0f), 2},     // a name matches only whole
        {"ProfiledSafeVal[1]", CPackedVal::FromString("soon"), 3},
        {"ProfiledSafeVal[1]", CPackedVal::FromString("1.5 V"), 3},
        {"ProfiledSafeVal[1]", CPackedVal::FromString(""), 3},
        {"ProfiledSafeVals", CPackedVal::FromFloatArray({1.0f}), 3}, // read-only
        {"SecondsSinceReset", CPackedVal::FromUInt32(0), 3},
    };
    for (const Refused& r : refused) {
        try {
            comms.WriteNamedVariable(r.name, r.value).get();
            ADD_FAILURE() << r.name << " was written";
        } catch (const Modbus::Error& e) {
            EXPECT_TRUE(e.IsExceptionReply(r.exceptionCode)) << r.name << ": " << e.what();
        }
    }
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("ProfiledSafeVal[1]").get(), 0.0f);

    // The named-variable window sends what the user typed as text.
    comms.WriteNamedVariable("ProfiledSafeVal[1]", CPackedVal::FromString("-2.75")).get();
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("ProfiledSafeVal[1]").get(), -2.75f);
}

// All 8-day data of one point, piece by piece as a download reads it.
std::vector<float> EightDayData(TolvarenCommsCommon& comms, IoDirection dir, unsigned index,
                                std::vector<std::size_t>* pieces = nullptr)
{
    std::vector<float> all;
    for (;;) {
        const auto piece = comms.GetHistoricalData(dir, index, unsigned(all.size())).get();
        if (piece.empty())
            return all;
        if (pieces)
            pieces->push_back(piece.size());
        all.insert(all.end(), piece.begin(), piece.end());
    }
}

std::size_t NaNs(const std::vector<float>& samples)
{
    return std::count_if(samples.begin(), samples.end(), [](float v) { return std::isnan(v); });
}

TEST_F(FullCardSimulatorTest, EightDayDataOfEveryPointMovesOnWithTheClock)
{
    std::vector<std::size_t> pieces;
    const std::vector<float> input = EightDayData(comms, Input, 0, &pieces);
    ASSERT_EQ(input.size(), 768u);
    // As large as a reply frame allows: 62 floats after the count byte.
    EXPECT_EQ(pieces.front(), 62u);
    EXPECT_EQ(pieces.size(), 13u);
    EXPECT_EQ(NaNs(input), 1u);
    const std::vector<float> output = EightDayData(comms, Output, 23);
    ASSERT_EQ(output.size(), 768u);
    // The power gap hit every point at the same store.
    const auto gap =
        std::find_if(input.begin(), input.end(), [](float v) { return std::isnan(v); });
    EXPECT_TRUE(std::isnan(output[std::size_t(gap - input.begin())]));

    // One store later everything has moved one sample towards the oldest.
    Advance(storeIntervalMs);
    const std::vector<float> moved = EightDayData(comms, Input, 0);
    ASSERT_EQ(moved.size(), 768u);
    for (std::size_t k = 1; k < 768; ++k) {
        if (!std::isnan(input[k])) {
            EXPECT_EQ(moved[k - 1], input[k]) << k;
        }
    }

    // Cleared data start again with the next store; other points keep theirs.
    comms.ClearHistoricalData(Output, 2).get();
    EXPECT_TRUE(comms.GetHistoricalData(Output, 2, 0).get().empty());
    EXPECT_EQ(EightDayData(comms, Output, 1).size(), 768u);
    Advance(storeIntervalMs);
    EXPECT_EQ(EightDayData(comms, Output, 2).size(), 1u);

    // Points that do not exist and malformed requests are refused.
    try {
        comms.GetHistoricalData(Input, 24, 0).get();
        ADD_FAILURE() << "input 24 answered";
    } catch (const Modbus::Error& e) {
        EXPECT_TRUE(e.IsExceptionReply(2)) << e.what();
    }
}

TEST_F(FullCardSimulatorTest, LiveDataFollowsThePointValues)
{
    // Live samples are taken at the card's 50 ms ticks; start on one.
    nowMs = 123456800;
    // First request: the gap marker and the latest 31 samples, the last being the value now.
    const std::vector<float> first = comms.GetLiveData(Input, 7).get();
    ASSERT_EQ(first.size(), 32u);
    EXPECT_TRUE(std::isnan(first[0]));
    EXPECT_EQ(first.back(), comms.GetValues(Input).get()[7]);

    Advance(100);
    const std::vector<float> next = comms.GetLiveData(Input, 7).get();
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next.back(), comms.GetValues(Input).get()[7]);
    EXPECT_TRUE(comms.GetLiveData(Input, 7).get().empty()); // nothing new yet

    // An output's live data is the value it holds.
    comms.SetOutputValue(6, 33.0f).get();
    const std::vector<float> output = comms.GetLiveData(Output, 6).get();
    ASSERT_EQ(output.size(), 32u);
    EXPECT_EQ(output.back(), 33.0f);
}

} // namespace
