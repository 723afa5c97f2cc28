#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/DEDOCardSimulator.h"
#include "tests/support/FutureWait.h"

// The master end to end against the simulated card, through the datalink.
namespace {

using FutureWait::ErrorAs;

class MasterAgainstSimulatedCard : public ::testing::Test
{
protected:
    DEDOCardSimulator card;
    ModbusMasterDatalink link{&card};
    ModbusMaster master{link};
};

TEST_F(MasterAgainstSimulatedCard, ReadsAndWritesTheCardsTables)
{
    EXPECT_EQ(master.ReadInputRegister(910).get(), 4);
    EXPECT_EQ(master.ReadInputRegister(901).get(), 1);
    EXPECT_EQ(master.ReadInputRegister(902).get(), 234);
    EXPECT_EQ(master.ReadRegistersAsString(ModbusMaster::HoldingRegisters, 9203, 40).get(),
              "Input 4");
    EXPECT_TRUE(master.ReadBit(false, 908).get());

    master.WriteRegistersAsData(9200, {0x61, 0x62, 0x63, 0x00}).get();
    EXPECT_EQ(master.ReadRegistersAsData(ModbusMaster::HoldingRegisters, 9200, 4).get(),
              (ByteVec{0x61, 0x62, 0x63, 0x00}));
    master.WriteRegistersString(9201, "Boiler flow", 40).get();
    EXPECT_EQ(master.ReadRegistersAsString(ModbusMaster::HoldingRegisters, 9201, 40).get(),
              "Boiler flow");
    master.WriteFloat(9002, -12.5f).get();
    EXPECT_EQ(master.ReadFloat(ModbusMaster::HoldingRegisters, 9002).get(), -12.5f);
    master.WriteCoil(17, true).get();
    EXPECT_EQ(master.ReadBits(true, 16, 3).get(), (std::vector<bool>{false, true, false}));
}

TEST_F(MasterAgainstSimulatedCard, VendorCommandsAndTheirFailures)
{
    const ByteVec text = master.SendQelCommand(22).get();
    EXPECT_EQ(std::string(text.begin(), text.end()), "Card simulation with Modbus address of 1");

    auto unsupported = master.SendQelCommand(15);
    auto error = ErrorAs<Modbus::Error>(unsupported);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->IsExceptionReply(1));
    EXPECT_STREQ(error->what(), "node returned an error: illegal function");

    // The datalink carries on after a refusal.
    EXPECT_EQ(master.ReadInputRegister(910).get(), 4);
}

TEST_F(MasterAgainstSimulatedCard, ANodeThatIsNotThereTimesOut)
{
    link.SetNodeAddress(2);
    link.SetReplyTimeoutMs(100);
    auto future = master.ReadInputRegister(910);
    EXPECT_TRUE(ErrorAs<Modbus::TimeoutError>(future));
    link.SetNodeAddress(1);
    EXPECT_EQ(master.ReadInputRegister(910).get(), 4);
}

TEST_F(MasterAgainstSimulatedCard, CallersOnSeveralThreadsShareTheDatalink)
{
    // Each worker owns its ModbusMaster, as each card-access object does.
    const int workers = 4;
    const int rounds = 200;
    std::vector<int> wrong(workers, 0);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            ModbusMaster own(link);
            const unsigned short address = static_cast<unsigned short>(9100 + w);
            for (int i = 0; i < rounds; ++i) {
                const unsigned short value = static_cast<unsigned short>(w * 1000 + i);
                auto write = own.WriteRegisterUInt16(address, value);
                auto read = own.ReadHoldingRegister(address);
                auto config = own.SendQelCommand(22);
                write.get();
                if (read.get() != value || config.get().size() != 40)
                    ++wrong[w];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(workers, 0));
}

} // namespace
