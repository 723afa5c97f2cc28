#include <algorithm>

#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"
#include "simulator/DEDOCardSimulator.h"
#include "simulator/SimulatorSerialBridge.h"
#include "tests/serialpeer/Framed.h"
#include "tests/serialpeer/LibmodbusPeer.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

ByteVec Join(std::initializer_list<ByteVec> parts)
{
    ByteVec all;
    for (const ByteVec& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(SimulatorSerialBridgeFramingTest, GathersWholeFramesByTheirCrc)
{
    const ByteVec readInputs = Framed({0x01, 0x04, 0x03, 0x8E, 0x00, 0x01});
    const ByteVec writeMany =
        Framed({0x01, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x01, 0x02, 0x03, 0x04});
    const ByteVec vendor = Framed({0x01, 0x64, 0x00, 0x07, 0xAA});
    struct Case {
        const char* what;
        ByteVec pending;
        std::vector<ByteVec> frames;
        ByteVec left;
    };
    const ByteVec partial(writeMany.begin(), writeMany.begin() + 9);
    const Case cases[] = {
        {"one frame", readInputs, {readInputs}, {}},
        {"two in one chunk", Join({readInputs, writeMany}), {readInputs, writeMany}, {}},
        {"garbage first", Join({{0xFF, 0x00, 0x13}, readInputs}), {readInputs}, {}},
        {"vendor frame, length by CRC", Join({vendor, readInputs}), {vendor, readInputs}, {}},
        {"incomplete stays", Join({readInputs, partial}), {readInputs}, partial},
        {"too short to tell", {0x01, 0x03}, {}, {0x01, 0x03}},
    };
    for (const Case& c : cases) {
        ByteVec pending = c.pending;
        EXPECT_EQ(SimulatorSerialBridge::TakeRequestFrames(pending), c.frames) << c.what;
        EXPECT_EQ(pending, c.left) << c.what;
    }
}

TEST(SimulatorSerialBridgeFramingTest, FrameSplitOverChunksAndEndlessNoise)
{
    const ByteVec writeMany =
        Framed({0x01, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x01, 0x02, 0x03, 0x04});
    ByteVec pending;
    for (unsigned char b : writeMany) {
        EXPECT_TRUE(SimulatorSerialBridge::TakeRequestFrames(pending).empty() ||
                    pending.empty());
        pending.push_back(b);
    }
    EXPECT_EQ(SimulatorSerialBridge::TakeRequestFrames(pending), std::vector<ByteVec>{writeMany});

    ByteVec noise(1000, 0x55);
    EXPECT_TRUE(SimulatorSerialBridge::TakeRequestFrames(noise).empty());
    EXPECT_LE(noise.size(), 256u);
}

TEST(SimulatorSerialBridgeFramingTest, VendorRequestEndsWhereItsLengthByteSays)
{
    // A vendor request whose first seven bytes happen to end in a valid CRC: arriving in pieces,
    // it must not be cut there.
    ByteVec chance = Framed({0x01, 0x64, 0x08, 0x00, 0x11});
    const ByteVec request = Framed(Join({chance, {0x01, 0x02, 0x03, 0x04}}));
    ASSERT_EQ(request.size(), 13u);
    ByteVec pending(request.begin(), request.begin() + 7);
    EXPECT_TRUE(SimulatorSerialBridge::TakeRequestFrames(pending).empty());
    pending.insert(pending.end(), request.begin() + 7, request.end());
    EXPECT_EQ(SimulatorSerialBridge::TakeRequestFrames(pending), std::vector<ByteVec>{request});
    EXPECT_TRUE(pending.empty());

    // Nor may bytes inside its arguments that happen to form another request (a calibration
    // block's floats can) be taken for one while the rest of it is still on the line.
    const ByteVec inner = Framed({0x01, 0x04, 0xFF, 0x78, 0x00, 0x01});
    ByteVec block = Join({{0x01, 0x64, 0x00, 0x00, 0x07, 0x01}, inner, ByteVec(8, 0x3B)});
    block[2] = static_cast<unsigned char>(block.size() - 3);
    const ByteVec write = Framed(block);
    const std::size_t split = 6 + inner.size();
    pending.assign(write.begin(), write.begin() + long(split));
    EXPECT_TRUE(SimulatorSerialBridge::TakeRequestFrames(pending).empty());
    pending.insert(pending.end(), write.begin() + long(split), write.end());
    EXPECT_EQ(SimulatorSerialBridge::TakeRequestFrames(pending), std::vector<ByteVec>{write});
}

class SimulatorSerialBridgeTest : public ::testing::Test
{
protected:
    SimulatorSerialBridgeTest()
    {
        sysfs.AddUart(0, pty.SlavePath());
        SerialPortSettings settings;
        settings.port = 1;
        bridge.reset(new SimulatorSerialBridge(card, settings));
    }

    PtyPair pty;
    FakeSysfs sysfs;
    boost::shared_ptr<DEDOCardSimulator> card = boost::make_shared<DEDOCardSimulator>();
    std::unique_ptr<SimulatorSerialBridge> bridge;
};

TEST_F(SimulatorSerialBridgeTest, AnswersTwoRequestsArrivingTogether)
{
    const ByteVec readType = Framed({0x01, 0x04, 0x03, 0x8E, 0x00, 0x01}); // 910: card type
    const ByteVec readVersion = Framed({0x01, 0x04, 0xFF, 0x99, 0x00, 0x01}); // 65433: map
    pty.Write(Join({{0x00, 0xFF}, readType, readVersion}));
    EXPECT_EQ(pty.Read(14), Join({Framed({0x01, 0x04, 0x02, 0x00, 0x04}),
                                  Framed({0x01, 0x04, 0x02, 0x00, 0x09})}));
    EXPECT_EQ(bridge->GetError(), "");
}

TEST_F(SimulatorSerialBridgeTest, UnfinishedBytesBeforeAPauseAreDropped)
{
    // The start of a vendor request that promises more bytes than ever come.
    pty.Write({0x01, 0x64, 0x0A, 0x00, 0x11});
    // The pause is the input here: a master that gave up and, later, asks again.
    boost::this_thread::sleep_for(boost::chrono::milliseconds(400));
    pty.Write(Framed({0x01, 0x04, 0x03, 0x8E, 0x00, 0x01}));
    EXPECT_EQ(pty.Read(7), Framed({0x01, 0x04, 0x02, 0x00, 0x04}));
}

// The simulator outlives bridges that come and go while it is still sending them replies.
TEST(SimulatorSerialBridgeLifetimeTest, DestroyedWhileRepliesAreBeingDelivered)
{
    PtyPair pty;
    FakeSysfs sysfs;
    sysfs.AddUart(0, pty.SlavePath());
    SerialPortSettings settings;
    settings.port = 1;
    auto card = boost::make_shared<DEDOCardSimulator>();
    card->SetReplyChunkSize(1); // many emissions per reply: a wide window to land in
    const ByteVec readType = Framed({0x01, 0x04, 0x03, 0x8E, 0x00, 0x01});
    ByteVec burst;
    for (int i = 0; i < 20; ++i)
        burst.insert(burst.end(), readType.begin(), readType.end());
    for (int round = 0; round < 10; ++round) {
        auto bridge = std::make_unique<SimulatorSerialBridge>(card, settings);
        pty.Write(burst);
        ASSERT_EQ(pty.Read(1).size(), 1u) << round; // replies are flowing
        bridge.reset();
        pty.ReadFor(std::chrono::milliseconds(0));
    }
    // Still answering through a new bridge (after what is left of the earlier replies).
    SimulatorSerialBridge bridge(card, settings);
    card->SetReplyChunkSize(0);
    pty.Write(Framed({0x01, 0x04, 0xFF, 0x99, 0x00, 0x01}));
    const ByteVec reply = Framed({0x01, 0x04, 0x02, 0x00, 0x09});
    ByteVec received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline &&
           (received.size() < reply.size() ||
            !std::equal(reply.begin(), reply.end(), received.end() - long(reply.size())))) {
        const ByteVec more = pty.Read(1, std::chrono::milliseconds(100));
        received.insert(received.end(), more.begin(), more.end());
    }
    ASSERT_GE(received.size(), reply.size());
    EXPECT_EQ(ByteVec(received.end() - long(reply.size()), received.end()), reply);
    EXPECT_EQ(bridge.GetError(), "");
}

TEST_F(SimulatorSerialBridgeTest, LibmodbusMasterReadsTheCardsIdentity)
{
    modbus_t* ctx = NewLibmodbusRtuOnFd(pty.MasterFd(), "master");
    modbus_set_response_timeout(ctx, 5, 0);
    // The card answers its identity registers one at a time.
    const std::pair<int, uint16_t> identity[] = {
        {901, 1},     {902, 234}, {903, 1}, {904, 24000}, {905, 15000}, {906, 10000},
        {907, 60536}, {909, 1},   {910, 4}, {911, 1},     {65433, 9}};
    for (const auto& expected : identity) {
        uint16_t value = 0;
        ASSERT_EQ(modbus_read_input_registers(ctx, expected.first, 1, &value), 1)
            << expected.first << ": " << modbus_strerror(errno);
        EXPECT_EQ(value, expected.second) << expected.first;
    }
    uint8_t bit = 0;
    ASSERT_EQ(modbus_read_input_bits(ctx, 908, 1, &bit), 1) << modbus_strerror(errno);
    EXPECT_EQ(bit, 1);
    FreeLibmodbusContext(ctx);
}

} // namespace
