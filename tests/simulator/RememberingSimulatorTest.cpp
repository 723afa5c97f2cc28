#include <boost/optional/optional_io.hpp>

#include <gtest/gtest.h>

#include "simulator/RememberingSimulator.h"
#include "tests/simulator/SimulatorClient.h"

namespace {

typedef SimulatorClient C;

class RememberingSimulatorTest : public ::testing::Test
{
protected:
    C::Reply Ask(unsigned char functionCode, const ByteVec& data)
    {
        return client.Exchange(functionCode, data);
    }

    RememberingSimulator sim;
    SimulatorClient client{sim};
};

struct RefusedCase
{
    const char* what;
    unsigned char functionCode;
    ByteVec data;
    unsigned char exceptionCode;
};

TEST_F(RememberingSimulatorTest, RefusesMalformedRequests)
{
    const RefusedCase cases[] = {
        {"data of 3 bytes", 3, {0x00, 0x00, 0x01}, 3},
        {"no data", 1, {}, 3},
        {"unknown function", 7, C::AddressAndCount(0, 1), 1},
        {"coil read of 0", 1, C::AddressAndCount(0, 0), 3},
        {"coil read of 2001", 1, C::AddressAndCount(0, 2001), 3},
        {"discrete read past 65535", 2, C::AddressAndCount(65535, 2), 3},
        {"register read of 126", 3, C::AddressAndCount(0, 126), 3},
        {"input register read of 126", 4, C::AddressAndCount(0, 126), 3},
        {"coil write value 0x0001", 5, {0x03, 0x90, 0x00, 0x01}, 3},
        {"coil write value 0xFFFF", 5, {0x03, 0x90, 0xFF, 0xFF}, 3},
        {"coil write of 5 bytes", 5, {0x03, 0x90, 0xFF, 0x00, 0x00}, 3},
        {"multiple coils, no byte count", 15, C::AddressAndCount(0, 8), 3},
        {"multiple coils, byte count wrong", 15, {0x00, 0x00, 0x00, 0x09, 0x01, 0xFF}, 3},
        {"multiple coils, data short", 15, {0x00, 0x00, 0x00, 0x09, 0x02, 0xFF}, 3},
        {"multiple coils, data long", 15, {0x00, 0x00, 0x00, 0x08, 0x01, 0xFF, 0x00}, 3},
        {"multiple coils, quantity 0", 15, {0x00, 0x00, 0x00, 0x00, 0x00}, 3},
        {"multiple coils past 65535", 15, {0xFF, 0xFF, 0x00, 0x02, 0x01, 0x03}, 3},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(IsException(Ask(c.functionCode, c.data), c.functionCode, c.exceptionCode))
            << c.what;

    ByteVec tooMany = {0x00, 0x00, 0x07, 0xB1, 0xF7}; // 1969 coils in 247 bytes
    tooMany.resize(5 + 247, 0);
    EXPECT_TRUE(IsException(Ask(15, tooMany), 15, 3));
}

TEST_F(RememberingSimulatorTest, RegistersWrittenAreReadBack)
{
    // 16 then 3 at the same start and size.
    auto written = Ask(16, {0x23, 0xF0, 0x00, 0x02, 0x04, 0x61, 0x62, 0x63, 0x00});
    EXPECT_EQ(written.functionCode, 16);
    EXPECT_EQ(written.data, (ByteVec{0x23, 0xF0, 0x00, 0x02}));
    EXPECT_EQ(Ask(3, C::AddressAndCount(9200, 2)).data,
              (ByteVec{0x04, 0x61, 0x62, 0x63, 0x00}));

    // 6 stores the two value bytes and echoes the request.
    EXPECT_EQ(Ask(6, {0x02, 0x4E, 0x12, 0x34}).data, (ByteVec{0x02, 0x4E, 0x12, 0x34}));
    EXPECT_EQ(Ask(3, C::AddressAndCount(590, 1)).data, (ByteVec{0x02, 0x12, 0x34}));
    EXPECT_EQ(sim.HoldingRegister(590).value_or(ByteVec()), ByteVec({0x12, 0x34}));

    // A float read where nothing is stored gives zeros; so does the tail after the last entry.
    EXPECT_EQ(Ask(3, C::AddressAndCount(9000, 2)).data, (ByteVec{0x04, 0, 0, 0, 0}));
    EXPECT_EQ(Ask(3, C::AddressAndCount(590, 3)).data,
              (ByteVec{0x06, 0x12, 0x34, 0, 0, 0, 0}));
    EXPECT_EQ(Ask(3, C::AddressAndCount(590, 0)).data, (ByteVec{0x00}));
}

TEST_F(RememberingSimulatorTest, HoldingReadWalksEntriesAndNeverSplitsOne)
{
    sim.SetHoldingRegister(100, {0x00, 0x01});
    sim.SetHoldingRegister(101, {0x00, 0x02});
    sim.SetHoldingRegister(102, {0x00, 0x03});
    EXPECT_EQ(Ask(3, C::AddressAndCount(100, 3)).data,
              (ByteVec{0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}));

    // Four-byte entries at consecutive addresses: two of them fill four registers.
    sim.SetHoldingRegister(9300, {1, 2, 3, 4});
    sim.SetHoldingRegister(9301, {5, 6, 7, 8});
    EXPECT_EQ(Ask(3, C::AddressAndCount(9300, 4)).data, (ByteVec{0x08, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(IsException(Ask(3, C::AddressAndCount(9300, 1)), 3, 3));
    EXPECT_TRUE(IsException(Ask(3, C::AddressAndCount(9300, 3)), 3, 3));

    // An entry at the top of the address space ends the walk without wrapping to address 0.
    sim.SetHoldingRegister(65535, {0xAB, 0xCD});
    sim.SetHoldingRegister(0, {0xEE, 0xEE});
    EXPECT_EQ(Ask(3, C::AddressAndCount(65535, 2)).data, (ByteVec{0x04, 0xAB, 0xCD, 0, 0}));
}

TEST_F(RememberingSimulatorTest, InputReadNeedsTheExactEntryLength)
{
    sim.SetInputRegister(9600, {'V', 'o', 'l', 't'});
    EXPECT_EQ(Ask(4, C::AddressAndCount(9600, 2)).data, (ByteVec{0x04, 'V', 'o', 'l', 't'}));
    EXPECT_EQ(Ask(4, C::AddressAndCount(9600, 1)).data, (ByteVec{0x02, 0, 0}));
    EXPECT_EQ(Ask(4, C::AddressAndCount(9600, 3)).data, (ByteVec{0x06, 0, 0, 0, 0, 0, 0}));
    // Input registers cannot be written over Modbus.
    Ask(16, {0x25, 0x80, 0x00, 0x02, 0x04, 'x', 'x', 'x', 'x'});
    EXPECT_EQ(sim.InputRegister(9600).value_or(ByteVec()), ByteVec({'V', 'o', 'l', 't'}));
}

TEST_F(RememberingSimulatorTest, CoilsAndDiscreteInputs)
{
    sim.SetDiscreteInput(908, true);
    EXPECT_EQ(Ask(2, C::AddressAndCount(907, 3)).data, (ByteVec{0x01, 0x02}));
    // Unknown bits read as false and are remembered.
    EXPECT_EQ(sim.DiscreteInput(909), boost::optional<bool>(false));

    EXPECT_EQ(Ask(5, {0x03, 0x90, 0xFF, 0x00}).data, (ByteVec{0x03, 0x90, 0xFF, 0x00}));
    EXPECT_EQ(sim.Coil(912), boost::optional<bool>(true));
    Ask(5, {0x03, 0x90, 0x00, 0x00});
    EXPECT_EQ(sim.Coil(912), boost::optional<bool>(false));

    // Ten coils from 0x0102, least significant bit first.
    auto written = Ask(15, {0x01, 0x02, 0x00, 0x0A, 0x02, 0b10100101, 0b10});
    EXPECT_EQ(written.data, (ByteVec{0x01, 0x02, 0x00, 0x0A}));
    EXPECT_EQ(Ask(1, C::AddressAndCount(0x0102, 10)).data, (ByteVec{0x02, 0b10100101, 0b10}));
    EXPECT_EQ(Ask(1, C::AddressAndCount(0x0101, 3)).data, (ByteVec{0x01, 0b010}));

    // The extremes that are still accepted.
    auto all = Ask(1, C::AddressAndCount(63536, 2000));
    ASSERT_EQ(all.data.size(), 251u);
    EXPECT_EQ(all.data[0], 250);
    ByteVec most = {0x00, 0x00, 0x07, 0xB0, 0xF6};
    most.resize(5 + 246, 0xFF);
    EXPECT_EQ(Ask(15, most).functionCode, 15);
    EXPECT_EQ(sim.Coil(1967), boost::optional<bool>(true));
    EXPECT_EQ(sim.Coil(1968), boost::none);
}

} // namespace
