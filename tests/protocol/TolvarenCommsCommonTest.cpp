#include <cstring>

#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

TEST(TolvarenCommsCommonTest, FirmwareVersionTexts)
{
    struct Case
    {
        std::uint16_t major, minor;
        const char* text;
    } cases[] = {
        {1, 5, "1.05"}, {2, 10, "2.10"}, {1, 123, "1.123"}, {3, 7, "3.07"}, {0, 0, "0.00"}};
    for (const Case& c : cases) {
        FakeCard::Identity id;
        id.firmwareMajor = c.major;
        id.firmwareMinor = c.minor;
        FakeCard card(id);
        ModbusMasterDatalink datalink(&card);
        TolvarenCommsCommon comms(datalink);
        EXPECT_EQ(comms.GetFirmwareVersionString().get(), c.text);
        // Minor part first.
        const auto requests = card.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].address, 902u);
        EXPECT_EQ(requests[1].address, 901u);
    }
}

TEST(TolvarenCommsCommonTest, IdentityItems)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_FLOAT_EQ(comms.GetBoardVoltage().get(), 24.0f);
    EXPECT_EQ(comms.GetSoftwareBuildDate().get(), FakeCardProtocol::BuildDate());
    EXPECT_EQ(comms.GetConfigText().get(), FakeCardProtocol::ConfigText());
    EXPECT_EQ(comms.ReadSingleRegister(false, 909).get(), 1);
    EXPECT_EQ(comms.GetTrafficLogChunk(true).get(), ByteVec());
    EXPECT_EQ(rig.Vendor(21).back().VendorArguments(), ByteVec{1});
}

TEST(TolvarenCommsCommonTest, CardTypesAndPointCounts)
{
    struct Case
    {
        int type;
        unsigned inputs, outputs;
    } cases[] = {{1, 16, 0}, {2, 0, 16}, {3, 6, 9}, {4, 24, 24}};
    for (const Case& c : cases) {
        FakeCard card(c.type, 9);
        ModbusMasterDatalink datalink(&card);
        TolvarenCommsCommon comms(datalink);
        EXPECT_EQ(comms.GetCardType(false).get(), c.type);
        EXPECT_EQ(comms.GetNumInputs().get(), c.inputs);
        EXPECT_EQ(comms.GetNumOutputs().get(), c.outputs);
        EXPECT_EQ(comms.GetNumPoints(Output), c.outputs);
        // Counts come from the cached type: register 910 was read once.
        EXPECT_EQ(card.RequestCount(), 1u);
    }
}

TEST(TolvarenCommsCommonTest, InvalidCardTypesAreRefusedAndNotCached)
{
    for (int type : {0, 6}) {
        FakeCard card(type, 9);
        ModbusMasterDatalink datalink(&card);
        TolvarenCommsCommon comms(datalink);
        try {
            comms.GetCardType(true).get();
            FAIL() << "type " << type << " accepted";
        } catch (const Modbus::Error& e) {
            EXPECT_STREQ(e.what(), "Invalid card type returned");
            EXPECT_EQ(e.Kind(), Modbus::GeneralError);
        }
        EXPECT_THROW(comms.GetCardType(true).get(), Modbus::Error);
        EXPECT_EQ(card.RequestCount(), 2u); // asked again: the cache holds 0
        card.SetCardType(3);
        EXPECT_EQ(comms.GetCardType(true).get(), 3);
    }
}

TEST(TolvarenCommsCommonTest, DeviceWithoutPointsHasNoPointCounts)
{
    FakeCard card(5, 9);
    ModbusMasterDatalink datalink(&card);
    TolvarenCommsCommon comms(datalink);
    EXPECT_EQ(comms.GetCardType(false).get(), 5);
    EXPECT_THROW_TEXT(comms.GetNumInputs().get(), ExceptionWithString, "Invalid card type");
    EXPECT_THROW_TEXT(comms.GetNumPoints(Output), ExceptionWithString, "Invalid card type");
}

TEST(TolvarenCommsCommonTest, OutputAddressesMoveBy50FromVersion4)
{
    for (std::uint16_t version : {3, 4}) {
        FakeCardRig rig(2, version);
        TolvarenCommsCommon comms(rig.datalink);
        EXPECT_EQ(comms.GetLabel(Output, 5).get(), "Output label 6");
        const unsigned expected = version == 3 ? 9205 : 9255;
        EXPECT_EQ(rig.Count(3, expected), 1u) << "version " << version;
        EXPECT_EQ(rig.VersionReads(), 1u);
    }
    FakeCardRig rig(1, 4);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.GetLabel(Input, 5).get(), "Input label 6");
    EXPECT_EQ(rig.Count(3, 9205), 1u);
    EXPECT_EQ(rig.VersionReads(), 0u); // inputs never cost a version read
}

TEST(TolvarenCommsCommonTest, RegisterVersionIsReadOncePerInstance)
{
    FakeCardRig rig(4, 9);
    {
        TolvarenCommsCommon first(rig.datalink);
        TolvarenCommsCommon second(rig.datalink);
        EXPECT_EQ(first.GetRegisterVersion().get(), 9);
        EXPECT_EQ(first.GetRegisterVersion().get(), 9);
        first.GetLabel(Output, 0).get();
        EXPECT_EQ(second.GetRegisterVersion().get(), 9);
        second.GetLabel(Output, 1).get();
    }
    EXPECT_EQ(rig.VersionReads(), 2u);

    // A card answering 0 is asked again.
    rig.card.SetRegisterVersion(0);
    rig.card.ClearRequests();
    TolvarenCommsCommon third(rig.datalink);
    EXPECT_EQ(third.GetRegisterVersion().get(), 0);
    EXPECT_EQ(third.GetRegisterVersion().get(), 0);
    EXPECT_EQ(rig.VersionReads(), 2u);
}

TEST(TolvarenCommsCommonTest, EeReadChecksTheLength)
{
    FakeCardRig rig(4, 9);
    ByteVec lastArgs;
    rig.card.SetVendorHandler(23, [&](const ByteVec& args, ByteVec& payload) {
        lastArgs = args;
        payload = ByteVec{1, 2, 3};
        return 0;
    });
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.ReadEe(0x01020304, 3), (ByteVec{1, 2, 3}));
    EXPECT_EQ(lastArgs, (ByteVec{1, 2, 3, 4, 3}));
    EXPECT_THROW_TEXT(comms.ReadEe(0, 4), Modbus::Error,
                      "Incorrect number of bytes returned in EE read");
}

TEST(TolvarenCommsCommonTest, CalibrationBlocksAreLittleEndianFloats)
{
    FakeCardRig rig(1, 9);
    ByteVec reply;
    std::vector<ByteVec> received;
    rig.card.SetVendorHandler(5, [&](const ByteVec& args, ByteVec& payload) {
        received.push_back(args);
        payload = reply;
        return 0;
    });
    rig.card.SetVendorHandler(6, [&](const ByteVec& args, ByteVec&) {
        received.push_back(args);
        return 0;
    });
    rig.card.SetVendorHandler(7, [&](const ByteVec& args, ByteVec&) {
        received.push_back(args);
        return 0;
    });
    TolvarenCommsCommon comms(rig.datalink);
    const float values[2] = {1.5f, -2.25f};
    reply.resize(8);
    std::memcpy(reply.data(), values, 8); // this machine is little-endian like the card
    EXPECT_EQ(comms.ReadCalibrationBlock(3).get(), (std::vector<float>{1.5f, -2.25f}));
    reply.clear();
    EXPECT_TRUE(comms.ReadCalibrationBlock(3).get().empty());
    reply = ByteVec{1, 2, 3};
    EXPECT_THROW_TEXT(comms.ReadCalibrationBlock(3).get(), Modbus::Error,
                      "Number of bytes not multiple of 4 so can't interpret as floats");

    received.clear();
    comms.BeginCalibrationWrite().get();
    const unsigned char block[3] = {9, 8, 7};
    comms.WriteCalibrationBlock(2, block, sizeof block).get();
    comms.EndCalibrationWrite().get();
    EXPECT_EQ(received, (std::vector<ByteVec>{{0}, {2, 9, 8, 7}, {1}}));

    rig.card.FailVendorCommand(6, 4);
    EXPECT_THROW(comms.EndCalibrationWrite().get(), Modbus::Error);
}

TEST(TolvarenCommsCommonTest, DatesConvertFromExactlyFourBytes)
{
    const Date d = Date::FromByteVec(ByteVec{31, 12, 0xE8, 0x07});
    EXPECT_EQ(d, Date(31, 12, 2024));
    EXPECT_EQ(d.ToByteVec(), (ByteVec{31, 12, 0xE8, 0x07}));
    EXPECT_THROW_TEXT(Date::FromByteVec(ByteVec{1, 2, 3}), ExceptionWithString,
                      "Date::FromByteVec(): data length is not 4");
}

TEST(TolvarenCommsCommonTest, ErrorsPassThroughWithTheirTypesAndTheInstanceStaysUsable)
{
    FakeCardRig rig(4, 9);
    rig.datalink.SetReplyTimeoutMs(200);
    TolvarenCommsCommon comms(rig.datalink);
    rig.card.DropReplies(1);
    EXPECT_THROW(comms.GetLabel(Input, 0).get(), Modbus::TimeoutError);
    rig.card.FailAddress(3, 9201, 2);
    try {
        comms.GetLabel(Input, 1).get();
        FAIL();
    } catch (const Modbus::Error& e) {
        EXPECT_TRUE(e.IsExceptionReply(2));
    }
    EXPECT_EQ(comms.GetLabel(Input, 2).get(), "Input label 3");
}

TEST(TolvarenCommsCommonTest, OverlappingOperationsOfOneInstance)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    std::vector<boost::future<std::string>> labels;
    for (unsigned i = 0; i < 24; ++i) {
        labels.push_back(comms.GetLabel(i % 2 ? Output : Input, i));
    }
    auto values = comms.GetValues(Input);
    for (unsigned i = 0; i < 24; ++i) {
        const auto& expected = i % 2 ? rig.content.Outputs().labels : rig.content.Inputs().labels;
        EXPECT_EQ(labels[i].get(), expected[i]);
    }
    EXPECT_EQ(values.get(), rig.content.Inputs().values);
}

TEST(TolvarenCommsCommonTest, DestructorLetsRunningOperationsFinish)
{
    FakeCardRig rig(4, 9);
    boost::future<std::string> label;
    rig.card.HoldReplies();
    {
        TolvarenCommsCommon comms(rig.datalink);
        label = comms.GetLabel(Output, 3);
        ASSERT_TRUE(rig.card.WaitForRequests(1));
        rig.card.ReleaseReplies();
    }
    EXPECT_EQ(label.get(), "Output label 4");
}

} // namespace
