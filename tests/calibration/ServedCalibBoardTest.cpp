#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "calibration/CalibBoard.h"
#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibBoardParams.h"
#include "comms/SimpleSerialComms.h"
#include "simulator/CalibBoardSerialBridge.h"
#include "simulator/SimulatedCalibBoard.h"
#include "tests/calibration/ServedBoard.h"

// The tool's side against the simulated board served on the far end of a pty join: the tool
// on COM300, the board on COM301.

namespace {

const int toolPort = 300;

class ServedCalibBoardTest : public ::testing::Test
{
protected:
    std::string ErrorOf(const std::function<void()>& operation)
    {
        try {
            operation();
        } catch (const std::exception& e) {
            return e.what();
        }
        return std::string();
    }

    ServedBoard served;
    std::shared_ptr<SimulatedCalibBoard>& board = served.board;
};

TEST_F(ServedCalibBoardTest, VersionAndRouting)
{
    int routingChanges = 0;
    board->SetRoutingObserver([&] { ++routingChanges; });
    CalibBoard calibBoard(toolPort);
    EXPECT_EQ(calibBoard.Link().Transact(CalibBoardCommands::Ping), 0);
    EXPECT_EQ(calibBoard.GetVersion(), 1);
    board->SetVersion(2);
    EXPECT_EQ(calibBoard.GetVersion(), 2);

    using namespace CalibBoardCommands;
    calibBoard.SetConfig(3, PathCode(2), LowerOhmsA | UpperOhmsA);
    EXPECT_EQ(board->RouteOf(3).pathCode, 4);
    EXPECT_EQ(board->RouteOf(3).selection, 5);
    calibBoard.SetConfig(15, PathCode(1), SelectReferenceB);
    EXPECT_EQ(board->RouteOf(3).pathCode, 0); // no jumpers on every other input
    EXPECT_EQ(board->RouteOf(15).pathCode, 0x12);
    EXPECT_EQ(board->RouteOf(15).selection, 2);
    EXPECT_EQ(routingChanges, 2);
    calibBoard.SetConfig(15, PathCode(1), SelectReferenceB); // no change, no notice
    EXPECT_EQ(routingChanges, 2);

    // Refused by the board: the routing stays as it was.
    EXPECT_EQ(ErrorOf([&] { calibBoard.SetConfig(16, PathCode(0), 1); }),
              "reply to command was not an ACK");
    EXPECT_EQ(ErrorOf([&] { calibBoard.SetConfig(0, PathCode(0), 3); }),
              "reply to command was not an ACK");
    EXPECT_EQ(board->RouteOf(15).pathCode, 0x12);
    EXPECT_EQ(board->RouteOf(0).pathCode, 0);
    EXPECT_EQ(routingChanges, 2);
    EXPECT_EQ(served.bridge->GetError(), "");
}

TEST_F(ServedCalibBoardTest, ParamsStoredLoadedAndErased)
{
    EXPECT_FALSE(CalibBoardParams::LoadParamsFromBoard(toolPort)); // erased when new

    CalibParams params = CalibParams::Defaults();
    params.inductorResistance = -0.0;
    params.upperOhmsB = 29876.5;
    const CalibParams confirmed = CalibBoardParams::StoreParamsToBoard(toolPort, params);
    EXPECT_TRUE(confirmed.SameBytesAs(params));
    const ByteVec eeprom = board->Eeprom();
    const ByteVec image = params.ToImage();
    EXPECT_EQ(ByteVec(eeprom.begin(), eeprom.begin() + 73), image);
    EXPECT_EQ(eeprom[73], 0xFF); // the rest untouched
    const auto loaded = CalibBoardParams::LoadParamsFromBoard(toolPort);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->SameBytesAs(params));

    CalibBoardParams::ResetBoardEeprom(toolPort);
    EXPECT_EQ(board->Eeprom(), ByteVec(128, 0xFF));
    EXPECT_FALSE(CalibBoardParams::LoadParamsFromBoard(toolPort));

    board->SetEeprom(0, {2});
    EXPECT_EQ(ErrorOf([&] { CalibBoardParams::LoadParamsFromBoard(toolPort); }),
              "Calibration params inside EE have a version number that is not known by this "
              "software");
}

TEST_F(ServedCalibBoardTest, AWriteThatDoesNotStickIsReported)
{
    CalibBoardParams::StoreParamsToBoard(toolPort, CalibParams::Defaults());
    board->SetIgnoreEepromWrites(true);
    CalibParams changed = CalibParams::Defaults();
    changed.voltsA = 3.001;
    EXPECT_EQ(ErrorOf([&] { CalibBoardParams::StoreParamsToBoard(toolPort, changed); }),
              "data read back from PIC does not match what was requested to be written");

    // Erased and still erased after the write: nothing read back at all.
    board->SetIgnoreEepromWrites(false);
    CalibBoardParams::ResetBoardEeprom(toolPort);
    board->SetIgnoreEepromWrites(true);
    EXPECT_EQ(ErrorOf([&] { CalibBoardParams::StoreParamsToBoard(toolPort, changed); }),
              "data read back from PIC does not match what was requested to be written");
}

TEST_F(ServedCalibBoardTest, BridgeMayGoWhileTheBoardIsAnswering)
{
    const ByteVec ping{0x01, 0x00, 0x00};
    const ByteVec pong{0x02, 0x00, 0x00, 0x00};
    {
        SimpleSerialComms tool(toolPort, CalibBoardLink::BaudRate);
        // Pings keep coming while the bridge goes, so it is answering one when it is destroyed.
        std::atomic<bool> stop{false};
        std::thread pinger([&] {
            for (int sent = 0; !stop && sent < 100000; ++sent) {
                try {
                    tool.Transmit(ping);
                } catch (const Circbuf::Error&) {
                    std::this_thread::yield(); // send queue full: the line is busy
                }
            }
        });
        ByteVec first;
        for (std::size_t i = 0; i < pong.size(); ++i)
            first.push_back(tool.ReadByte(10000));
        served.bridge.reset();
        stop = true;
        pinger.join();
        EXPECT_EQ(first, pong);
    }
    // The port was let go: a new bridge opens it (a port is held exclusively).
    SerialPortSettings settings;
    settings.port = 301;
    settings.baudRate = CalibBoardLink::BaudRate;
    EXPECT_NO_THROW(served.bridge = std::make_unique<CalibBoardSerialBridge>(board, settings));
}

} // namespace
