#include <algorithm>

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"
#include "simulator/CardBytes.h"
#include "simulator/FullCardSimulator.h"
#include "simulator/VendorCommandFrame.h"

namespace {

// Sends one vendor sub-command to the card as the datalink would hand it over.
int Vendor(FullCardSimulator& card, std::uint16_t subCommand, const ByteVec& arguments,
           ByteVec* payload = nullptr)
{
    ByteVec request;
    request.push_back(static_cast<unsigned char>(2 + arguments.size()));
    request.push_back(static_cast<unsigned char>(subCommand >> 8));
    request.push_back(static_cast<unsigned char>(subCommand));
    for (unsigned char byte : arguments)
        request.push_back(byte);
    ByteVec reply;
    const int result = card.HandleRequest(VendorCommandFrame::functionCode, request, reply);
    if (result == 0 && payload)
        payload->assign(reply.begin() + 3, reply.end());
    return result;
}

ByteVec ReadConfig(FullCardSimulator& card)
{
    ByteVec data, piece;
    EXPECT_EQ(Vendor(card, 1, {}, &data), 0);
    do {
        EXPECT_EQ(Vendor(card, 2, {}, &piece), 0);
        data.insert(data.end(), piece.begin(), piece.end());
    } while (!piece.empty());
    return data;
}

// Writes configuration data as a restore does; the card's answer to the first refused step.
int WriteConfig(FullCardSimulator& card, const ByteVec& data)
{
    if (const int refused = Vendor(card, 3, ByteVec(data.begin(), data.begin() + 4)))
        return refused;
    for (std::size_t at = 4; at < data.size(); at += 128) {
        const ByteVec piece(data.begin() + long(at),
                            data.begin() + long(std::min(data.size(), at + 128)));
        if (const int refused = Vendor(card, 4, piece))
            return refused;
    }
    return Vendor(card, 4, {});
}

// The bytes with byte `at` set to value and the CRC at the end made right again.
ByteVec Changed(ByteVec data, std::size_t at, unsigned char value)
{
    data.at(at) = value;
    data.resize(data.size() - 2);
    AppendModbusCrc(data);
    return data;
}

ByteVec Ee(std::uint32_t address, const ByteVec& bytes = {})
{
    ByteVec args(4 + bytes.size());
    for (std::size_t i = 0; i < 4; ++i)
        args[i] = static_cast<unsigned char>(address >> (24 - 8 * i));
    std::copy(bytes.begin(), bytes.end(), args.begin() + 4);
    return args;
}

// In the configuration data: input 0's label; output 0's override flag, after the inputs, its
// own first 70 bytes and its override value.
const std::size_t firstLabelAt = 14;
const std::size_t firstOverrideFlagAt = 14 + 24 * 70 + 70 + 4;

class CardConfigurationTest : public ::testing::Test
{
protected:
    CardConfigurationTest() { DEDOCardSimulator::ResetSharedStores(); }

    ByteVec Holding(std::uint16_t address)
    {
        return card.HoldingRegister(address).value_or(ByteVec());
    }
    ByteVec Input(std::uint16_t address) { return card.InputRegister(address).value_or(ByteVec()); }

    FullCardSimulator card{[] { return std::uint64_t(1000); }};
};

TEST_F(CardConfigurationTest, WritesTakeEffectWhenFinishedAndARestartIsNotAnswered)
{
    const ByteVec before = ReadConfig(card);
    ASSERT_EQ(before.size(), CardSettings::EncodedSize(24, 24));
    const ByteVec relabelled = Changed(before, firstLabelAt, 'X');

    // An unfinished write, cut short by a restart, leaves the settings as they were.
    EXPECT_EQ(Vendor(card, 3, ByteVec(relabelled.begin(), relabelled.begin() + 4)), 0);
    EXPECT_EQ(Vendor(card, 4, ByteVec(relabelled.begin() + 4, relabelled.begin() + 100)), 0);
    ByteVec coil;
    EXPECT_EQ(card.HandleRequest(5, {0x03, 0x90, 0x00, 0x00}, coil), 0); // clear reset flag
    const int noReply = ModbusSimulator::NoReply;
    EXPECT_EQ(Vendor(card, 25, {}), noReply);
    EXPECT_EQ(Vendor(card, 4, {}), 3); // no write open any more
    EXPECT_EQ(ReadConfig(card), before);
    ByteVec flag;
    EXPECT_EQ(card.HandleRequest(1, {0x03, 0x90, 0x00, 0x01}, flag), 0);
    EXPECT_EQ(flag, (ByteVec{1, 1})); // the card comes back with its reset flag set

    // A finished write sets the registers the data stand for, and a restart keeps them.
    EXPECT_EQ(WriteConfig(card, relabelled), 0);
    EXPECT_EQ(Holding(9200), CardBytes::Text("Xnput 1", 40));
    EXPECT_EQ(Vendor(card, 25, {}), noReply);
    EXPECT_EQ(ReadConfig(card), relabelled);

    // EE memory: in range only, and the clear-notes request needs its key.
    ByteVec ee;
    EXPECT_EQ(Vendor(card, 24, Ee(0x3FFFF, {1, 2})), 2);
    EXPECT_EQ(Vendor(card, 24, Ee(0x1C010, {1, 2})), 0);
    EXPECT_EQ(Vendor(card, 23, Ee(0x1C010, {2}), &ee), 0);
    EXPECT_EQ(ee, (ByteVec{1, 2}));
    EXPECT_EQ(Vendor(card, 15, {14}), 3);
    EXPECT_EQ(Vendor(card, 15, {15}), 0);
}

TEST_F(CardConfigurationTest, DataTheCardCannotTakeAreRefusedAndChangeNothing)
{
    const ByteVec before = ReadConfig(card);
    const struct
    {
        const char* what;
        ByteVec data;
    } cases[] = {
        {"another layout", Changed(before, 3, 2)},
        {"an Input Card's", CardSettings::Defaults(16, 0).Encode()},
        {"override flag 2", Changed(before, firstOverrideFlagAt, 2)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WriteConfig(card, c.data), 3) << c.what;
        EXPECT_EQ(ReadConfig(card), before) << c.what;
    }
}

TEST_F(CardConfigurationTest, AfterTheEeWipeTheRestartedCardIsAtItsDefaults)
{
    ByteVec reply;
    // A label and a note of the user's, and a calibration.
    ASSERT_EQ(
        card.HandleRequest(16, ByteVec{0x23, 0xF0, 0x00, 0x02, 0x04, 'P', 'u', 'm', 'p'}, reply),
        0);
    ASSERT_EQ(Vendor(card, 13, {0x00, 0x00}), 0);
    ASSERT_EQ(Vendor(card, 14, {'n', 'o', 't', 'e'}), 0);
    ASSERT_EQ(Vendor(card, 14, {}), 0);
    card.StoreCalibrationValues(1, std::vector<float>(16, 0.5f));

    // The service wipe: 0xFF from address 2 on until the card refuses an address.
    std::uint32_t address = 2;
    while (Vendor(card, 24, Ee(address, ByteVec(128, 0xFF))) == 0)
        address = address == 2 ? 128 : address + 128;
    EXPECT_EQ(address, std::uint32_t(CardConfiguration::eeSize));
    // Until it restarts the card runs on the settings it has.
    EXPECT_EQ(Holding(9200), CardBytes::Text("Pump", 4));

    const int noReply = ModbusSimulator::NoReply;
    EXPECT_EQ(Vendor(card, 25, {}), noReply);
    EXPECT_EQ(Holding(9200), CardBytes::Text("Input 1", 40));
    EXPECT_EQ(Holding(100 + 4), CardBytes::U16(100));
    EXPECT_EQ(Input(911), CardBytes::U16(0));
    EXPECT_EQ(card.CalibrationValues(1), std::vector<float>(16, 0.0f));
    ByteVec note;
    ASSERT_EQ(Vendor(card, 11, {0x00, 0x00}), 0);
    ASSERT_EQ(Vendor(card, 12, {}, &note), 0);
    EXPECT_TRUE(note.empty());
    EXPECT_EQ(ReadConfig(card), CardSettings::Defaults(24, 24).Encode());
}

} // namespace
