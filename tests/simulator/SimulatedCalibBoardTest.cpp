#include <gtest/gtest.h>

#include "simulator/SimulatedCalibBoard.h"

// The board's own frame handling; its commands as the tool uses them are proven over a serial
// path in the calibration tests.

namespace {

// A request frame around data (command and payload).
ByteVec Frame(const ByteVec& data)
{
    ByteVec frame{static_cast<unsigned char>(data.size())};
    unsigned char sum = 0;
    for (unsigned char b : data) {
        frame.push_back(b);
        sum = static_cast<unsigned char>(sum + b);
    }
    frame.push_back(static_cast<unsigned char>(-sum));
    return frame;
}

ByteVec Join(ByteVec a, const ByteVec& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SimulatedCalibBoardTest, FramesInPiecesTogetherAndCorrupted)
{
    SimulatedCalibBoard board;
    const ByteVec ping = Frame({0x00});
    const ByteVec pingAck = {0x02, 0x00, 0x00, 0x00};

    // Byte by byte: the reply comes with the checksum byte, not before.
    const ByteVec request = Frame({0x64, 0x02, 0x01, 0x02});
    for (std::size_t i = 0; i + 1 < request.size(); ++i)
        EXPECT_EQ(board.Receive(&request[i], 1), ByteVec()) << i;
    EXPECT_EQ(board.Receive(&request.back(), 1), (ByteVec{0x02, 0x64, 0x00, 0x9C}));
    EXPECT_EQ(board.RouteOf(2).pathCode, 1);

    // Two frames in one chunk, the second split from a third.
    const ByteVec three = Join(Join(ping, Frame({0x01})), ping);
    EXPECT_EQ(board.Receive(ByteVec(three.begin(), three.end() - 1)),
              Join(pingAck, {0x03, 0x01, 0x00, 0x01, 0xFE}));
    EXPECT_EQ(board.Receive(ByteVec{three.back()}), pingAck);

    // A corrupted frame is dropped silently; the next one is answered.
    const ByteVec corrupted = {0x01, 0x00, 0x01};
    EXPECT_EQ(board.Receive(Join(corrupted, ping)), pingAck);
    EXPECT_EQ(board.ChecksumFailures(), 1u);

    // An unfinished frame is forgotten on request.
    board.Receive(ByteVec{0x05, 0x03});
    board.DropPartialFrame();
    EXPECT_EQ(board.Receive(ping), pingAck);
}

TEST(SimulatedCalibBoardTest, EepromBoundsAndUnknownCommands)
{
    struct Case
    {
        const char* what;
        ByteVec data;
        unsigned char status;
        std::size_t payloadSize;
    };
    const Case cases[] = {
        {"read from the start", {0x02, 0}, 0, 128},
        {"read from 100", {0x02, 100}, 0, 28},
        {"read from 127", {0x02, 127}, 0, 1},
        {"read beyond", {0x02, 128}, SimulatedCalibBoard::NakBadRequest, 0},
        {"read without offset", {0x02}, SimulatedCalibBoard::NakBadRequest, 0},
        {"write up to the end", {0x03, 126, 0xA1, 0xA2}, 0, 0},
        {"write one past the end", {0x03, 127, 0xB1, 0xB2}, SimulatedCalibBoard::NakBadRequest, 0},
        {"SetConfig short", {0x64, 0, 1}, SimulatedCalibBoard::NakBadRequest, 0},
        {"SetConfig unknown path", {0x64, 0, 2, 0}, SimulatedCalibBoard::NakBadRequest, 0},
        {"SetConfig resistor mask", {0x64, 0, 8, 0x0F}, 0, 0},
        {"SetConfig resistor beyond mask", {0x64, 0, 8, 0x10},
         SimulatedCalibBoard::NakBadRequest, 0},
        {"unknown command", {0x05}, SimulatedCalibBoard::NakUnknownCommand, 0},
    };
    SimulatedCalibBoard board;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ByteVec reply = board.Receive(Frame(c.data));
        ASSERT_EQ(reply.size(), 4 + c.payloadSize);
        EXPECT_EQ(reply[0], 2 + c.payloadSize);
        EXPECT_EQ(reply[1], c.data[0]);
        EXPECT_EQ(reply[2], c.status);
    }
    const ByteVec eeprom = board.Eeprom();
    EXPECT_EQ(eeprom[125], 0xFF);
    EXPECT_EQ(eeprom[126], 0xA1);
    EXPECT_EQ(eeprom[127], 0xA2); // and not 0xB1: the refused write left it alone
}

} // namespace
