#include <atomic>

#include <boost/thread/future.hpp>

#include <gtest/gtest.h>

#include "simulator/RememberingSimulator.h"
#include "tests/simulator/SimulatorClient.h"
#include "tests/support/TestPace.h"

namespace {

// A slave whose answer is scripted by the test; it remembers the thread that asked.
class ScriptedSimulator : public ModbusSimulator
{
public:
    int HandleRequest(unsigned char, const ByteVec& requestData, ByteVec& replyData) override
    {
        handlerThread = boost::this_thread::get_id();
        replyData = reply.empty() ? requestData : reply;
        return result;
    }
    int result = 0;
    ByteVec reply;
    boost::thread::id handlerThread;
};

TEST(ModbusSimulatorTest, ReplyFramesCarryAddressFunctionDataAndCrc)
{
    ScriptedSimulator sim;
    SimulatorClient client(sim);
    sim.reply = {0x02, 0x00, 0x04};
    sim.Transmit(SimulatorClient::Frame(1, 4, {0x03, 0x8E, 0x00, 0x01}));
    auto frame = client.NextFrame();
    ASSERT_TRUE(frame);
    ByteVec expected{0x01, 0x04, 0x02, 0x00, 0x04};
    AppendModbusCrc(expected);
    EXPECT_EQ(*frame, expected);

    sim.result = 2;
    sim.Transmit(SimulatorClient::Frame(1, 3, {0x00, 0x00, 0x00, 0x01}));
    frame = client.NextFrame();
    ASSERT_TRUE(frame);
    expected = {0x01, 0x83, 0x02};
    AppendModbusCrc(expected);
    EXPECT_EQ(*frame, expected);
}

TEST(ModbusSimulatorTest, FramesForAnotherNodeOrTooShortGetNoReply)
{
    RememberingSimulator sim;
    SimulatorClient client(sim);
    // Replies come out in order, so if either ignored frame were answered its reply would
    // arrive before the answer to the last request.
    client.Send(4, SimulatorClient::AddressAndCount(910, 1), 2);
    sim.Transmit(ByteVec{0x01, 0x04, 0x00});
    auto reply = client.Exchange(4, SimulatorClient::AddressAndCount(910, 1));
    EXPECT_EQ(reply.functionCode, 4);
    EXPECT_EQ(reply.data, (ByteVec{0x02, 0x00, 0x00}));
    EXPECT_FALSE(client.NextFrame(boost::chrono::milliseconds(0)));
}

TEST(ModbusSimulatorTest, CrcOfTheRequestIsNotChecked)
{
    RememberingSimulator sim;
    SimulatorClient client(sim);
    sim.Transmit(ByteVec{0x01, 0x04, 0x03, 0x8E, 0x00, 0x01, 0xDE, 0xAD});
    EXPECT_EQ(SimulatorClient::Parse(client.NextFrame()).functionCode, 4);
}

TEST(ModbusSimulatorTest, RepliesComeInOrderOnOneOtherThread)
{
    RememberingSimulator sim;
    SimulatorClient client(sim);
    const unsigned count = 50;
    for (unsigned i = 0; i < count; ++i)
        sim.SetHoldingRegisterUInt16(static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(i));
    for (unsigned i = 0; i < count; ++i)
        client.Send(3, SimulatorClient::AddressAndCount(i, 1));
    for (unsigned i = 0; i < count; ++i) {
        auto reply = SimulatorClient::Parse(client.NextFrame());
        ASSERT_EQ(reply.data, (ByteVec{0x02, 0x00, static_cast<unsigned char>(i)})) << i;
    }
    auto threads = client.EmittingThreads();
    ASSERT_EQ(threads.size(), count);
    for (const auto& id : threads) {
        EXPECT_NE(id, boost::this_thread::get_id());
        EXPECT_EQ(id, threads.front());
    }
}

TEST(ModbusSimulatorTest, TransmitReturnsBeforeTheReplyIsEmitted)
{
    ScriptedSimulator sim;
    boost::promise<void> transmitReturned;
    boost::shared_future<void> returned = transmitReturned.get_future().share();
    boost::promise<bool> slotSawReturn;
    // Closed (first of the locals) before the ones the slot uses go.
    SlotGuard guard;
    auto connection = sim.ConnectDataReceived(guard.Guard([&](ByteVec&) {
        // Emitted inside Transmit, this would wait out the whole bound and report false.
        slotSawReturn.set_value(returned.wait_for(generous) == boost::future_status::ready);
    }));
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    EXPECT_EQ(sim.handlerThread, boost::this_thread::get_id());
    transmitReturned.set_value();
    auto saw = slotSawReturn.get_future();
    ASSERT_EQ(saw.wait_for(generous), boost::future_status::ready);
    EXPECT_TRUE(saw.get());
    connection.disconnect();
}

TEST(ModbusSimulatorTest, SlotMayTransmitFromInsideTheEmission)
{
    RememberingSimulator sim;
    sim.SetInputRegisterUInt16(1, 11);
    sim.SetInputRegisterUInt16(2, 22);
    boost::mutex mutex;
    boost::condition_variable changed;
    std::vector<ByteVec> frames;
    SlotGuard guard;
    auto connection = sim.ConnectDataReceived(guard.Guard([&](ByteVec& chunk) {
        bool first;
        {
            boost::lock_guard<boost::mutex> lock(mutex);
            frames.push_back(chunk);
            first = frames.size() == 1;
        }
        changed.notify_all();
        if (first)
            sim.Transmit(SimulatorClient::Frame(1, 4, SimulatorClient::AddressAndCount(2, 1)));
    }));
    sim.Transmit(SimulatorClient::Frame(1, 4, SimulatorClient::AddressAndCount(1, 1)));
    boost::unique_lock<boost::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, generous, [&] { return frames.size() == 2; }));
    EXPECT_EQ(SimulatorClient::Parse(frames[0]).data, (ByteVec{0x02, 0x00, 11}));
    EXPECT_EQ(SimulatorClient::Parse(frames[1]).data, (ByteVec{0x02, 0x00, 22}));
    lock.unlock();
    connection.disconnect();
}

TEST(ModbusSimulatorTest, DeliveryControls)
{
    ScriptedSimulator sim;
    SimulatorClient client(sim);

    // Chunked: the reply arrives in pieces that join to the same frame.
    sim.SetReplyChunkSize(1);
    sim.reply = {0x04, 0x01, 0x02, 0x03, 0x04};
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 2}));
    auto frame = client.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(SimulatorClient::Parse(frame).data, sim.reply);
    EXPECT_EQ(client.EmittingThreads().size(), frame->size());
    sim.SetReplyChunkSize(0);

    // Held replies stay queued, in order, until released.
    sim.HoldReplies();
    sim.reply = {0xAA, 0x01, 0x02};
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    sim.reply = {0xBB, 0x01, 0x02};
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    EXPECT_FALSE(client.NextFrame(boost::chrono::milliseconds(0)));
    sim.ReleaseReplies();
    EXPECT_EQ(SimulatorClient::Parse(client.NextFrame()).data[0], 0xAA);
    EXPECT_EQ(SimulatorClient::Parse(client.NextFrame()).data[0], 0xBB);

    // NoReply sends nothing: the next answered request's reply is the next frame.
    sim.result = ModbusSimulator::NoReply;
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    sim.result = 0;
    sim.reply = {0xCC, 0x00, 0x00};
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    EXPECT_EQ(SimulatorClient::Parse(client.NextFrame()).data[0], 0xCC);

    // Reply data that cannot fit in a frame becomes a device failure.
    sim.reply = ByteVec(253, 0x11);
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    EXPECT_TRUE(IsException(SimulatorClient::Parse(client.NextFrame()), 3, 4));
    sim.reply = ByteVec(252, 0x11);
    sim.Transmit(SimulatorClient::Frame(1, 3, {0, 0, 0, 1}));
    EXPECT_EQ(SimulatorClient::Parse(client.NextFrame()).data, sim.reply);
}

TEST(ModbusSimulatorTest, DisconnectedSlotReceivesNothingMore)
{
    RememberingSimulator sim;
    std::atomic<int> calls{0};
    auto connection = sim.ConnectDataReceived([&](ByteVec&) { ++calls; });
    SimulatorClient client(sim);
    EXPECT_EQ(client.Exchange(4, SimulatorClient::AddressAndCount(1, 1)).functionCode, 4);
    connection.disconnect();
    EXPECT_EQ(client.Exchange(4, SimulatorClient::AddressAndCount(1, 1)).functionCode, 4);
    EXPECT_EQ(calls, 1);
}

} // namespace
