#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

ByteVec Piece(const FakeCardRequest& r)
{
    return r.VendorArguments();
}

TEST(TolvarenPointOperationsTest, LabelsAndPartNumbersAreCutAndPadded)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    const std::string long45(45, 'L');
    comms.SetLabel(Output, 2, long45).get();
    EXPECT_EQ(rig.card.HoldingRegister(9252)->size(), 40u);
    EXPECT_EQ(comms.GetLabel(Output, 2).get(), std::string(40, 'L'));

    comms.SetLabel(Input, 0, "abc").get();
    EXPECT_EQ(*rig.card.HoldingRegister(9200), ByteVec({'a', 'b', 'c'}) + ByteVec(37, 0));
    EXPECT_EQ(comms.GetLabel(Input, 0).get(), "abc");

    comms.SetPartNumber(Input, 1, "PN-1234567890-XYZ").get();
    EXPECT_EQ(rig.card.HoldingRegister(9501)->size(), 16u); // 15 bytes, one zero more
    EXPECT_EQ(comms.GetPartNumber(Input, 1).get(), "PN-1234567890-X");
}

TEST(TolvarenPointOperationsTest, SingleItemsRoundTrip)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.GetCalibrationDate(Output, 4).get(), rig.content.Outputs().dates[4]);
    comms.SetCalibrationDate(Output, 4, Date(29, 2, 2024)).get();
    EXPECT_EQ(*rig.card.HoldingRegister(65154), (ByteVec{29, 2, 0xE8, 0x07}));
    EXPECT_EQ(comms.GetCalibrationDate(Output, 4).get(), Date(29, 2, 2024));

    comms.SetScalingProfile(Input, 3, 0x1FFFF).get(); // low 16 bits
    comms.SetLowerLimit(Output, 1, -300).get();
    comms.SetUpperLimit(Input, 2, 1200).get();
    comms.SetOverrideValue(6, 3.25f).get();
    comms.SetOverrideActive(6, true).get();
    comms.SetOutputValue(7, 9.5f).get();
    EXPECT_EQ(*rig.card.HoldingRegister(9103), (ByteVec{0xFF, 0xFF}));
    EXPECT_EQ(*rig.card.HoldingRegister(651), (ByteVec{0xFE, 0xD4}));
    EXPECT_EQ(*rig.card.HoldingRegister(102), (ByteVec{0x04, 0xB0}));
    EXPECT_EQ(*rig.card.HoldingRegister(9356), (ByteVec{0x40, 0x50, 0, 0}));
    EXPECT_TRUE(rig.card.Coil(9356).value_or(false));
    EXPECT_EQ(*rig.card.HoldingRegister(9007), (ByteVec{0x41, 0x18, 0, 0}));
    EXPECT_EQ(rig.Count(6, 9103) + rig.Count(6, 651) + rig.Count(6, 102), 3u); // function 6
}

TEST(TolvarenPointOperationsTest, OffsetsAreWrittenWithoutAVersionRead)
{
    FakeCardRig rig(4, 6);
    TolvarenCommsCommon comms(rig.datalink);
    comms.SetOffset(Output, 3, 1.75f).get();
    comms.SetOffset(Input, 3, -1.0f).get();
    EXPECT_EQ(rig.VersionReads(), 0u);
    EXPECT_EQ(rig.Count(16, 9453), 1u);
    EXPECT_EQ(rig.Count(16, 9403), 1u);
    const std::vector<float> offsets = comms.GetOffsets(Output).get();
    EXPECT_EQ(rig.Count(3, 9450), 1u);
    ASSERT_EQ(offsets.size(), 24u);
    EXPECT_FLOAT_EQ(offsets[3], 1.75f);
    EXPECT_FLOAT_EQ(comms.GetOffsets(Input).get()[3], -1.0f);
}

TEST(TolvarenPointOperationsTest, BulkReadsOfEveryBlock)
{
    FakeCardRig rig(4, 9);
    const auto& in = rig.content.Inputs();
    const auto& out = rig.content.Outputs();
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.GetValues(Input).get(), in.values);
    EXPECT_EQ(comms.GetValues(Output).get(), out.values);
    EXPECT_EQ(comms.GetScalingProfileIds(Output).get(),
              std::vector<unsigned short>(out.profileIds.begin(), out.profileIds.end()));
    EXPECT_EQ(comms.GetLowerLimits(Input).get(),
              std::vector<short>(in.lowerLimits.begin(), in.lowerLimits.end()));
    EXPECT_EQ(comms.GetUpperLimits(Output).get(),
              std::vector<short>(out.upperLimits.begin(), out.upperLimits.end()));
    EXPECT_EQ(comms.GetRawValues(Input).get(),
              std::vector<unsigned short>(in.rawValues.begin(), in.rawValues.end()));
    EXPECT_EQ(comms.GetRawValues(Output).get(),
              std::vector<unsigned short>(out.rawValues.begin(), out.rawValues.end()));
    EXPECT_EQ(comms.GetOverrideValues().get(), out.overrideValues);
    EXPECT_EQ(comms.GetOverrideActiveFlags().get(), out.overrideActive);
    EXPECT_EQ(comms.GetLongTermLowTimes().get(),
              std::vector<unsigned>(in.lowTimes.begin(), in.lowTimes.end()));
    EXPECT_EQ(comms.GetLongTermHighTimes().get(),
              std::vector<unsigned>(in.highTimes.begin(), in.highTimes.end()));
    EXPECT_EQ(comms.GetLongTermPulseCounts().get(),
              std::vector<unsigned>(in.pulseCounts.begin(), in.pulseCounts.end()));
    // Outputs' rule blocks start at base + 50; the statistics at their fixed bases.
    for (unsigned address : {9150u, 150u, 9350u}) {
        EXPECT_EQ(rig.Count(3, address), 1u) << address;
    }
    EXPECT_EQ(rig.Count(1, 9350), 1u);
    EXPECT_EQ(rig.Count(3, 65250) + rig.Count(3, 65200) + rig.Count(3, 65300), 3u);
}

TEST(TolvarenPointOperationsTest, EmptyDirectionsCostNoRequest)
{
    FakeCardRig rig(1, 9);
    TolvarenCommsCommon comms(rig.datalink);
    comms.GetCardType(true).get();
    rig.card.ClearRequests();
    EXPECT_TRUE(comms.GetValues(Output).get().empty());
    EXPECT_TRUE(comms.GetOffsets(Output).get().empty());
    EXPECT_TRUE(comms.GetOverrideValues().get().empty());
    EXPECT_EQ(rig.card.RequestCount(), 0u);
    // Reading no override flags at all is refused by the function layer.
    EXPECT_THROW_TEXT(comms.GetOverrideActiveFlags().get(), Modbus::Error,
                      "too few/many discrete vals in one go");
}

TEST(TolvarenPointOperationsTest, ResetLongTermStats)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    comms.ResetLongTermStats(49).get();
    const auto requests = rig.card.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].address, 65249u);
    EXPECT_EQ(requests[1].address, 65299u);
    EXPECT_EQ(requests[2].address, 65349u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.functionCode, 16);
        EXPECT_EQ(ByteVec(r.data.end() - 4, r.data.end()), ByteVec(4, 0));
    }
    rig.card.ClearRequests();
    EXPECT_THROW_TEXT(comms.ResetLongTermStats(50), ExceptionWithString,
                      "ResetLongTermStats: invalid ioPoint");
    EXPECT_EQ(rig.card.RequestCount(), 0u);
}

TEST(TolvarenPointOperationsTest, NotesSupportProbe)
{
    {
        FakeCardRig rig(4, 6);
        TolvarenCommsCommon comms(rig.datalink);
        EXPECT_TRUE(comms.AreIoPointNotesSupported().get());
        EXPECT_EQ(Piece(rig.Vendor(11).at(0)), (ByteVec{0, 0}));
    }
    {
        FakeCardRig rig(4, 6);
        rig.content.SetNotesSupported(false); // answers exception code 1
        TolvarenCommsCommon comms(rig.datalink);
        EXPECT_FALSE(comms.AreIoPointNotesSupported().get());
        EXPECT_EQ(comms.GetIoNote(Input, 0).get(), "");
    }
    {
        FakeCardRig rig(4, 6);
        rig.card.FailVendorCommand(11, 2);
        TolvarenCommsCommon comms(rig.datalink);
        try {
            comms.AreIoPointNotesSupported().get();
            FAIL();
        } catch (const Modbus::Error& e) {
            EXPECT_TRUE(e.IsExceptionReply(2));
        }
    }
    {
        FakeCardRig rig(4, 5);
        TolvarenCommsCommon comms(rig.datalink);
        EXPECT_EQ(comms.GetIoNote(Output, 1).get(), "");
        const auto requests = rig.card.Requests();
        ASSERT_EQ(requests.size(), 1u); // only the version read
        EXPECT_EQ(requests[0].address, 65433u);
    }
}

TEST(TolvarenPointOperationsTest, NotesAreReadInPiecesUntilAnEmptyOne)
{
    FakeCardRig rig(4, 9);
    const std::string text(250, 'n');
    rig.content.SetNote(24 + 2, text); // output 2 of a card with 24 inputs
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.GetIoNote(Output, 2).get(), text);
    EXPECT_EQ(Piece(rig.Vendor(11).back()), (ByteVec{0, 26}));
    EXPECT_EQ(rig.Vendor(12).size(), 4u); // 100 + 100 + 50 + the empty end
}

TEST(TolvarenPointOperationsTest, ANoteThatNeverEndsIsRefused)
{
    // A card that keeps sending pieces: small ones are cut off by their count, full ones by the
    // length of the text, and neither read runs on for ever.
    const std::pair<std::size_t, std::size_t> cases[] = {{1, 1025}, {128, 513}};
    for (const auto& c : cases) {
        FakeCardRig rig(4, 9);
        const std::size_t pieceLength = c.first;
        rig.card.SetVendorHandler(12, [pieceLength](const ByteVec&, ByteVec& payload) {
            payload.assign(pieceLength, 'z');
            return 0;
        });
        TolvarenCommsCommon comms(rig.datalink);
        try {
            comms.GetIoNote(Input, 1).get();
            ADD_FAILURE() << "note of " << pieceLength << "-byte pieces read";
        } catch (const Modbus::Error& e) {
            EXPECT_STREQ(e.what(), "Invalid response to QEL_READ_NOTE_NEXT");
        }
        EXPECT_EQ(rig.Vendor(12).size(), c.second);
    }
}

TEST(TolvarenPointOperationsTest, NotesAreWrittenInPiecesOf128)
{
    struct Case
    {
        std::size_t length;
        std::vector<std::size_t> pieces;
    } cases[] = {
        {0, {0}}, {5, {5, 0}}, {128, {128, 0}}, {129, {128, 1, 0}}, {300, {128, 128, 44, 0}}};
    for (const Case& c : cases) {
        FakeCardRig rig(1, 9);
        TolvarenCommsCommon comms(rig.datalink);
        const std::string text(c.length, 'x');
        comms.SetIoNote(Output, 2, text).get();
        EXPECT_EQ(Piece(rig.Vendor(13).at(0)), (ByteVec{0, 18})); // 16 inputs + 2
        std::vector<std::size_t> pieces;
        for (const auto& r : rig.Vendor(14)) {
            pieces.push_back(Piece(r).size());
        }
        EXPECT_EQ(pieces, c.pieces) << c.length;
        EXPECT_EQ(rig.content.Note(18), text);
        EXPECT_EQ(rig.Vendor(11).size(), 0u); // no support probe
    }
}

TEST(TolvarenPointOperationsTest, FullNoteStore)
{
    FakeCardRig rig(4, 9);
    rig.content.SetNotesCapacity(200);
    rig.content.SetNote(0, std::string(100, 'a'));
    TolvarenCommsCommon comms(rig.datalink);
    try {
        comms.SetIoNote(Input, 1, std::string(150, 'b')).get();
        FAIL();
    } catch (const Modbus::Error& e) {
        EXPECT_STREQ(e.what(), "not enough room for an IO note");
        EXPECT_TRUE(e.IsExceptionReply(3));
    }
    // A note index the card refuses (code 3 on the start) passes through unchanged.
    rig.card.FailVendorCommand(13, 3);
    EXPECT_THROW_TEXT(comms.SetIoNote(Input, 1, "x").get(), Modbus::Error,
                      "node returned an error: the value requested is not valid");
}

TEST(TolvarenPointOperationsTest, CardWideSettings)
{
    FakeCardRig rig(3, 10); // 6 inputs, 9 outputs
    TolvarenCommsCommon comms(rig.datalink);
    comms.SetCommsDogBusOffDelay(0).get();
    comms.SetCommsDogOutputsOffDelay(120).get();
    EXPECT_EQ(*rig.card.HoldingRegister(590), (ByteVec{0, 0}));
    EXPECT_EQ(*rig.card.HoldingRegister(591), (ByteVec{0, 120}));

    comms.SetSoftDogMinutes(15).get();
    comms.SetSafeValue(3, 2.5f).get();
    EXPECT_EQ(rig.content.NamedVariable("OutputsToSafeMinutes"), CPackedVal::FromFloat(15));
    EXPECT_EQ(rig.content.NamedVariable("ProfiledSafeVal[3]"), CPackedVal::FromFloat(2.5f));

    comms.ClearResetOccurred().get();
    EXPECT_FALSE(rig.card.Coil(912).value_or(true));

    rig.card.ClearRequests();
    comms.ClearAllOverrides();
    EXPECT_EQ(rig.Count(5), 9u);
    for (unsigned i = 0; i < 9; ++i) {
        EXPECT_FALSE(rig.card.Coil(9350 + i).value_or(true));
    }
    comms.SetAllPointsDigital(Input, true);
    comms.SetAllPointsDigital(Output, false);
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(*rig.card.HoldingRegister(9100 + i), (ByteVec{0xFF, 0xFF}));
    }
    for (unsigned i = 0; i < 9; ++i) {
        EXPECT_EQ(*rig.card.HoldingRegister(9150 + i), (ByteVec{0, 0}));
    }

    std::vector<ByteVec> cleared;
    rig.card.SetVendorHandler(18, [&](const ByteVec& args, ByteVec&) {
        cleared.push_back(args);
        return 0;
    });
    comms.ClearAllEightDayData();
    ASSERT_EQ(cleared.size(), 15u);
    EXPECT_EQ(cleared.front(), (ByteVec{0, 0}));
    EXPECT_EQ(cleared[5], (ByteVec{0, 5}));
    EXPECT_EQ(cleared[6], (ByteVec{1, 0}));
    EXPECT_EQ(cleared.back(), (ByteVec{1, 8}));
}

} // namespace

namespace {

TEST(TolvarenPointOperationsTest, ReadsReportErrorsInTheirFuturesWhetherOrNotTheCardIsKnown)
{
    FakeCardRig rig(5, 9);
    TolvarenCommsCommon comms(rig.datalink);
    // Card type not known yet: the read learns it on a worker.
    EXPECT_THROW_TEXT(comms.GetValues(Input).get(), ExceptionWithString, "Invalid card type");
    // Now cached: the read is issued at once, and still fails only through its future.
    boost::future<std::vector<float>> values;
    ASSERT_NO_THROW(values = comms.GetValues(Input));
    EXPECT_THROW_TEXT(values.get(), ExceptionWithString, "Invalid card type");
}

TEST(TolvarenPointOperationsTest, WritesNobodyWaitsForStillReachTheCard)
{
    FakeCardRig rig(4, 9);
    {
        TolvarenCommsCommon comms(rig.datalink);
        comms.GetRegisterVersion().get();
        comms.SetLabel(Output, 1, "kept");
        comms.SetIoNote(Input, 4, "note kept");
        comms.SetOverrideActive(2, true);
    }
    EXPECT_EQ(*rig.card.HoldingRegister(9251), ByteVec({'k', 'e', 'p', 't'}) + ByteVec(36, 0));
    EXPECT_EQ(rig.content.Note(4), "note kept");
    EXPECT_TRUE(rig.card.Coil(9352).value_or(false));
}

} // namespace
