#include "calibration/CalibMaths.h"
#include "calibration/CalibrationMapping.h"
#include "comms/ExceptionWithString.h"
#include "tests/calibration/CalibTestSupport.h"

namespace {

// A calibrated Input Card whose blocks the test chooses; the datalink goes before the card.
class CalibrationMappingTest : public ::testing::Test
{
protected:
    CalibrationMappingTest()
    {
        card.SetVendorHandler(5, [this](const ByteVec& arguments, ByteVec& payload) {
            if (arguments.size() != 1 || arguments[0] >= 4)
                return 3;
            const std::vector<float>& values = blocks[arguments[0]];
            payload = CalibMaths::CalibrationBlockBytes(values.data(), values.size());
            return 0;
        });
    }

    std::size_t BlockReads() const
    {
        std::size_t n = 0;
        for (const FakeCardRequest& r : card.Requests())
            n += r.IsVendor() && r.address == 5;
        return n;
    }

    std::vector<float> blocks[4] = {std::vector<float>(16, 0.5f), std::vector<float>(16, 0.01f),
                                    std::vector<float>(16, -0.2f), std::vector<float>(16, 0.02f)};
    FakeCard card{1, 10};
    ModbusMasterDatalink datalink{&card};
    TolvarenCommsCommon comms{datalink};
};

TEST_F(CalibrationMappingTest, EachPathReadsItsOwnBlocks)
{
    blocks[0][3] = 1.0f;
    const CalibrationMapping voltage(0, comms);
    EXPECT_DOUBLE_EQ(voltage.Map(3, 4.0), (4.0 - 1.0) / double(0.01f));
    EXPECT_DOUBLE_EQ(voltage.RealFromRaw(2, 300.0), double(0.01f) * 300.0 + 0.5);

    const CalibrationMapping current(1, comms);
    EXPECT_DOUBLE_EQ(current.Map(0, 4.0), (4.0 - double(-0.2f)) / double(0.02f));

    const auto requests = card.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].VendorArguments(), ByteVec{2});
    EXPECT_EQ(requests[3].VendorArguments(), ByteVec{3});

    for (int path : {-1, 2}) {
        EXPECT_THROW_TEXT(CalibrationMapping(path, comms), ExceptionWithString, "sanity");
    }
    EXPECT_EQ(BlockReads(), 4u);
}

TEST_F(CalibrationMappingTest, SmallGradientsAndShortBlocks)
{
    blocks[1][0] = 0.0001f;
    blocks[1][1] = 0.000005f;
    blocks[1][2] = -0.000005f;
    blocks[0].resize(8); // a card that keeps only 8 intercepts
    const CalibrationMapping mapping(0, comms);
    EXPECT_NO_THROW(mapping.Map(0, 1.0));
    EXPECT_THROW_TEXT(mapping.Map(1, 1.0), ExceptionWithString, "Gradient too small");
    EXPECT_THROW_TEXT(mapping.Map(2, 1.0), ExceptionWithString, "Gradient too small");
    EXPECT_NO_THROW(mapping.Map(7, 1.0));
    for (unsigned index : {8u, 15u, 16u}) {
        const std::string text =
            "the measuring card's calibration data holds no value for IO point number " +
            std::to_string(index + 1);
        EXPECT_THROW_TEXT(mapping.Map(index, 1.0), ExceptionWithString, text);
        EXPECT_THROW_TEXT(mapping.RealFromRaw(index, 1.0), ExceptionWithString, text);
    }
}

} // namespace
