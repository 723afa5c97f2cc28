#include <gtest/gtest.h>

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

TEST(CardConfigurationTest, WritesTakeEffectWhenFinishedAndARestartIsNotAnswered)
{
    DEDOCardSimulator::ResetSharedStores();
    FullCardSimulator card([] { return std::uint64_t(1000); });
    const ByteVec before = ReadConfig(card);
    ASSERT_GT(before.size(), 4u);

    // An unfinished write, cut short by a restart, leaves the data as they were.
    EXPECT_EQ(Vendor(card, 3, {9, 9, 9, 9}), 0);
    EXPECT_EQ(Vendor(card, 4, {8, 8}), 0);
    ByteVec coil;
    EXPECT_EQ(card.HandleRequest(5, {0x03, 0x90, 0x00, 0x00}, coil), 0); // clear reset flag
    const int noReply = ModbusSimulator::NoReply;
    EXPECT_EQ(Vendor(card, 25, {}), noReply);
    EXPECT_EQ(Vendor(card, 4, {}), 3); // no write open any more
    EXPECT_EQ(ReadConfig(card), before);
    ByteVec flag;
    EXPECT_EQ(card.HandleRequest(1, {0x03, 0x90, 0x00, 0x01}, flag), 0);
    EXPECT_EQ(flag, (ByteVec{1, 1})); // the card comes back with its reset flag set

    EXPECT_EQ(Vendor(card, 3, {9, 9, 9, 9}), 0);
    EXPECT_EQ(Vendor(card, 4, {8, 8}), 0);
    EXPECT_EQ(Vendor(card, 4, {}), 0);
    EXPECT_EQ(ReadConfig(card), (ByteVec{9, 9, 9, 9, 8, 8}));

    // EE memory: in range only, and the clear-notes request needs its key.
    ByteVec ee;
    EXPECT_EQ(Vendor(card, 24, {0x00, 0x03, 0xFF, 0xFF, 1, 2}), 2);
    EXPECT_EQ(Vendor(card, 24, {0x00, 0x01, 0xC0, 0x10, 1, 2}), 0);
    EXPECT_EQ(Vendor(card, 23, {0x00, 0x01, 0xC0, 0x10, 2}, &ee), 0);
    EXPECT_EQ(ee, (ByteVec{1, 2}));
    EXPECT_EQ(Vendor(card, 15, {14}), 3);
    EXPECT_EQ(Vendor(card, 15, {15}), 0);
}

} // namespace
