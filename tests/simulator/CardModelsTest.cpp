#include <memory>

#include <gtest/gtest.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/CalibrationRig.h"
#include "simulator/FullCardSimulator.h"

namespace {

TEST(CardModelsTest, TheToolWorksOnEveryCardOfTheRig)
{
    struct Case
    {
        CardModel model;
        unsigned inputs, outputs;
    };
    const Case cases[] = {
        {CardModel::Make(CardModel::inputCard, 7, 1, 0), 16, 0},
        {CardModel::Make(CardModel::inputCard, 8, 3, 42), 16, 0},
        {CardModel::Make(CardModel::inputCard, 10, 2, 65535), 16, 0},
        {CardModel::Make(CardModel::outputCard, 8, 3, 7), 0, 16},
        {CardModel::Make(CardModel::outputCard, 10, 4, 0), 0, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model.cardType * 100 + c.model.registerMapVersion);
        DEDOCardSimulator::ResetSharedStores();
        FullCardSimulator card(c.model);
        ModbusMasterDatalink datalink(&card);
        TolvarenSnapshotGatherer gatherer(datalink);
        gatherer.RefreshSnapshot().get();
        gatherer.RefreshSnapshot().get(); // and an incremental one
        const TolvarenSnapshot s = gatherer.Snapshot();
        EXPECT_EQ(s.cardType, c.model.cardType);
        EXPECT_EQ(s.registerVersion, c.model.registerMapVersion);
        EXPECT_EQ(s.hardwareRevision, c.model.hardwareRevision);
        EXPECT_EQ(s.serialNumber, c.model.serialNumber);
        EXPECT_EQ(s.numInputs, c.inputs);
        EXPECT_EQ(s.numOutputs, c.outputs);
        EXPECT_EQ(s.inputValues.size(), c.inputs);
        EXPECT_EQ(s.outputValues.size(), c.outputs);
        EXPECT_FALSE(s.calibrated);
        EXPECT_TRUE(s.healthy);
        EXPECT_EQ(s.configText.find(c.inputs ? "Tolvaren Input Card" : "Tolvaren Output Card"), 0u);

        TolvarenCommsCommon comms(datalink);
        EXPECT_FALSE(comms.GetCardConfig().get().empty());
        // The calibration window gives a card its serial number through holding 65432.
        comms.WriteSingleRegister(TolvarenCommsCommon::regSetSerialNumber, 4711).get();
        EXPECT_EQ(comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber).get(),
                  4711u);
    }
}

// An ideal rig (no gain or offset errors, a 10 V rail, no noise) shows the raw scales.
class RigScalesTest : public ::testing::Test
{
protected:
    void MakeRig(CalibrationRig::Kind kind, std::uint16_t version, std::uint16_t revision)
    {
        comms.reset();
        datalink.reset();
        CalibrationRig::Setup setup;
        setup.registerMapVersion = version;
        setup.hardwareRevision = revision;
        rig.reset(new CalibrationRig(kind, setup, [this](unsigned) { return route; }));
        for (unsigned i = 0; i < 16; ++i) {
            rig->SetInputErrors(i, CalibrationRig::InputErrors());
            rig->SetOutputErrors(i, CalibrationRig::OutputErrors());
        }
        rig->SetRailVolts(10.0);
        datalink.reset(new ModbusMasterDatalink(&rig->InputCard()));
        comms.reset(new TolvarenCommsCommon(*datalink));
    }
    unsigned Raw(unsigned input)
    {
        return comms->ReadSingleRegister(false, std::uint16_t(65400 + input)).get();
    }

    CalibBoardRoute route;
    std::unique_ptr<CalibrationRig> rig;
    std::unique_ptr<ModbusMasterDatalink> datalink;
    std::unique_ptr<TolvarenCommsCommon> comms;
};

TEST_F(RigScalesTest, InputReadsWhatTheBoardRoutesInItsRawScale)
{
    struct Case
    {
        std::uint16_t version, revision;
        std::uint8_t path, selection;
        unsigned raw;
    };
    const Case cases[] = {
        {7, 1, CalibrationRig::voltagePath, 1, 300},                       // 3 V, 100 counts/V
        {10, 3, CalibrationRig::voltagePath, 1, 16368},                    // 3 V x 85.25 x 64
        {8, 1, CalibrationRig::currentPath, 2, 28800},                     // 9 mA x 50 x 64
        {7, 3, CalibrationRig::currentPath, 2, 443},                       // 9 mA x 49.2125
        {7, 1, CalibrationRig::voltagePath, 0, 0},       {10, 3, 0, 0, 0}, // nothing routed
        {7, 1, CalibrationRig::lowOhmsPath, 0, 997},     // 10 V over 820 and 313657 ohm
        {7, 1, CalibrationRig::lowOhmsPath, 1, 109},     // 100 ohm || 313657 against 820
        {8, 1, CalibrationRig::highOhmsPath, 12, 13621}, // 3000 || 30000 || 313657 vs 10000
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.version << "/" << c.revision << " path " << int(c.path)
                                        << " selection " << int(c.selection));
        MakeRig(CalibrationRig::Kind::InputCard, c.version, c.revision);
        route.pathCode = c.path;
        route.selection = c.selection;
        EXPECT_EQ(Raw(0), c.raw);
        EXPECT_EQ(Raw(15), c.raw);
    }
}

TEST_F(RigScalesTest, OutputsDriveInputsAndJumpersSwitchTheLastFourToCurrent)
{
    MakeRig(CalibrationRig::Kind::OutputCard, 10, 3);
    ModbusMasterDatalink outputLink(rig->OutputCard());
    TolvarenCommsCommon output(outputLink);
    for (unsigned i = 0; i < 16; ++i)
        EXPECT_EQ(Raw(i), 0u) << "outputs start at code 0";
    for (unsigned i = 0; i < 16; ++i)
        output.WriteSingleRegister(std::uint16_t(65400 + i), 200).get();
    // Code 200: 0.5 V (x 85.25 x 64) or 1 mA (x 49.2125 x 64).
    EXPECT_EQ(Raw(11), 2728u);
    EXPECT_EQ(Raw(12), 2728u);
    rig->SetJumpersForCurrent(true);
    EXPECT_EQ(Raw(11), 2728u);
    EXPECT_EQ(Raw(12), 3150u);
    EXPECT_EQ(Raw(15), 3150u);
}

} // namespace
